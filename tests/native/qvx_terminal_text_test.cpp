// What of the adapter's texts the console lets reach a terminal.
#include "qvx/terminal_text.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

TEST(QvxTerminalText, ReplacesControlBytesAndDelButKeepsTabLineEndsAndHighBytes) {
    std::string every;
    for (int c = 0; c < 256; ++c)
        every += static_cast<char>(c);
    const std::string shown = TerminalText(every);
    ASSERT_EQ(shown.size(), every.size());
    for (int c = 0; c < 256; ++c) {
        const bool kept = c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c != 0x7F);
        EXPECT_EQ(shown[c], kept ? static_cast<char>(c) : '?') << "byte " << c;
    }
    // A colour sequence and a title change lose their escapes, not their text.
    EXPECT_EQ(TerminalText("SN:\x1b[31mQV\x1b]0;x\x07\r\n"), "SN:?[31mQV?]0;x?\r\n");
}

} // namespace
} // namespace qvx
