// The console's JSON results stay valid JSON whatever bytes the adapter sends.
#include "qvx/json.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

TEST(QvxJson, EscapesQuotesControlsAndBytesOutsideAscii) {
    // A code page 1251 byte is not UTF-8: it must not reach the output raw.
    EXPECT_EQ(JsonString(std::string("a\"b\\c\r\n\t\x01\x7F\xC0", 11)),
              "\"a\\\"b\\\\c\\r\\n\\t\\u0001\\u007f\\u00c0\"");
    EXPECT_EQ(
        TJsonObject().Str("k", "v").Int("n", -3).Bool("b", true).Strings("l", {"x", ""}).Text(),
        "{\"k\":\"v\",\"n\":-3,\"b\":true,\"l\":[\"x\",\"\"]}");
}

} // namespace
} // namespace qvx
