#include "platform/text_lines.h"

namespace qvx {

std::string TTextLines::Text() const {
    std::string text;
    for (size_t i = 0; i < Lines.size(); ++i) {
        text += Lines[i];
        if (i + 1 < Lines.size() || !Open)
            text += "\r\n";
    }
    return text;
}

bool TTextLines::InsertText(const std::string& text) {
    if (text.empty())
        return false;
    size_t start = 0;
    bool first = true;
    for (;;) {
        size_t brk = text.find("\r\n", start);
        std::string part =
            text.substr(start, brk == std::string::npos ? std::string::npos : brk - start);
        if (first && Open && !Lines.empty())
            Lines.back() += part;
        else if (brk != std::string::npos || !part.empty())
            Lines.push_back(part);
        first = false;
        if (brk == std::string::npos) {
            Open = !part.empty() || (Open && !Lines.empty());
            break;
        }
        Open = false;
        start = brk + 2;
        if (start == text.size())
            break;
    }
    return true;
}

bool TTextLines::ReplaceLine(size_t index, const std::string& text) {
    if (index >= Lines.size())
        return false;
    const bool ended = text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
    Lines[index] = ended ? text.substr(0, text.size() - 2) : text;
    if (index + 1 == Lines.size())
        Open = !ended;
    return true;
}

} // namespace qvx
