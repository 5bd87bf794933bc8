// The console's text for a terminal: whatever the bytes, nothing that drives a
// terminal is left, every other byte is where it was, and filtering twice
// changes nothing more.
#include "qvx/terminal_text.h"
#include "tests/fuzz/fuzz_link.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string shown = TerminalText(text);
    FUZZ_CHECK(shown.size() == text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool drives = (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F;
        FUZZ_CHECK(shown[i] == (drives ? '?' : text[i]));
    }
    FUZZ_CHECK(TerminalText(shown) == shown);
    return 0;
}
