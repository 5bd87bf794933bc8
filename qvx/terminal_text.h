#pragma once
// Text bound for a terminal. The adapter's texts (identity fields, mode texts,
// the self-test log, upload statuses, messages) may hold any byte, and a
// terminal takes some of them as commands: an escape sequence can move the
// cursor, rewrite the screen or change the terminal's settings. Before such a
// text reaches a terminal, every C0 control byte other than TAB, CR and LF, and
// DEL, becomes "?". Bytes from 0x80 up stay: they are letters of the ANSI code
// pages the adapter's texts use. Output into a file or a pipe is not filtered.
#include <string>

namespace qvx {

// The text with the bytes that could drive a terminal replaced by "?"; the
// same length as the text.
std::string TerminalText(const std::string& text);

} // namespace qvx
