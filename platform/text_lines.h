#pragma once
// Lines of text as a log shows them while text streams in: the last line may
// still be open (text was added to it without a line break yet).
#include <cstddef>
#include <string>
#include <vector>

namespace qvx {

struct TTextLines {
    std::vector<std::string> Lines;
    // The last line has no line break yet.
    bool Open = false;

    // Every line ended by CR LF, except an open last line.
    std::string Text() const;
    // Appends text: the first part continues an open last line, every CR LF
    // starts a new line. False when nothing changed (empty text).
    bool InsertText(const std::string& text);
    // Replaces line index with text; a trailing CR LF in text ends the line.
    // False when there is no such line.
    bool ReplaceLine(size_t index, const std::string& text);
};

} // namespace qvx
