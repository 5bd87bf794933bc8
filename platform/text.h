#pragma once
// Small text helpers shared by the modules. Case folding is ASCII only: the
// results must not depend on the process locale.
#include <string>

namespace qvx {

inline char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string LowerAscii(std::string text);
// Compares a and b with the ASCII letters folded to upper case, other bytes by
// value; -1, 0 or 1.
int CompareFoldedAscii(const std::string& a, const std::string& b);
// The folder of a path: everything up to and including its last "\" or "/";
// "" when it has none.
std::string FolderOf(const std::string& path);
// path made absolute against the folder it is relative to. Windows paths:
// "C:\x", "\\server\share" (and a POSIX "/x") are absolute already; "\x" lies
// on the folder's drive; "D:x" lies in the folder when that is on drive D,
// else at the root of D. A leading ".\" is dropped.
std::string AbsolutePath(const std::string& folder, const std::string& path);

// The bytes of text read in the Windows-1252 code page (the western ANSI code
// page), as UTF-8. Its five unassigned bytes become U+FFFD.
std::string Cp1252ToUtf8(const std::string& text);
// Every byte outside the unreserved characters of URIs (letters, digits and
// "-._~") and outside keep as "%" and two upper-case hex digits.
std::string PercentEncode(const std::string& bytes, const std::string& keep = std::string());
// Undoes PercentEncode: "%" and two hex digits of either case give their
// byte; any other "%" stays as it is.
std::string PercentDecode(const std::string& text);

} // namespace qvx
