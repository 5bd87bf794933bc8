// The encoding of the values put into mail links: whatever the bytes, the
// encoded text holds only unreserved characters and "%" escapes (and the kept
// ones), and decoding it gives the bytes back.
#include "platform/text.h"
#include "tests/fuzz/fuzz_link.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::string& keep : {std::string(), std::string("@")}) {
        const std::string encoded = PercentEncode(text, keep);
        for (char c : encoded) {
            const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                 (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                 c == '~' || c == '%' || keep.find(c) != std::string::npos;
            FUZZ_CHECK(allowed);
        }
        FUZZ_CHECK(PercentDecode(encoded) == text);
    }
    // Read as Windows-1252, every byte gives one whole UTF-8 character.
    const std::string utf8 = Cp1252ToUtf8(text);
    FUZZ_CHECK(utf8.size() >= text.size() && utf8.size() <= 3 * text.size());
    return 0;
}
