#include "qvx/terminal_text.h"

namespace qvx {

namespace {

bool DrivesTerminal(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F;
}

} // namespace

std::string TerminalText(const std::string& text) {
    std::string shown = text;
    for (char& c : shown)
        if (DrivesTerminal(static_cast<unsigned char>(c)))
            c = '?';
    return shown;
}

} // namespace qvx
