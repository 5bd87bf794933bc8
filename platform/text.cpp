#include "platform/text.h"

#include <algorithm>
#include <cstdint>

namespace qvx {

std::string LowerAscii(std::string text) {
    for (char& c : text)
        c = LowerAscii(c);
    return text;
}

int CompareFoldedAscii(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(UpperAscii(a[i]));
        const auto y = static_cast<unsigned char>(UpperAscii(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Cp1252ToUtf8(const std::string& text) {
    // The code points of 0x80..0x9F; 0 for the unassigned ones.
    static const uint16_t High[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<uint8_t>(c);
        uint32_t code = byte;
        if (byte >= 0x80 && byte < 0xA0)
            code = High[byte - 0x80] ? High[byte - 0x80] : 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string PercentEncode(const std::string& bytes, const std::string& keep) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved || (c != '%' && c != '\0' && keep.find(c) != std::string::npos)) {
            out += c;
        } else {
            const auto byte = static_cast<uint8_t>(c);
            out += '%';
            out += Hex[byte >> 4];
            out += Hex[byte & 0x0F];
        }
    }
    return out;
}

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
} // namespace

std::string PercentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool HasDrive(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || IsSeparator(folder.back()))
        return folder + name;
    const char separator =
        folder.find('\\') == std::string::npos && folder.find('/') != std::string::npos ? '/'
                                                                                        : '\\';
    return folder + separator + name;
}

} // namespace

std::string AbsolutePath(const std::string& folder, const std::string& path) {
    std::string name = path;
    while (name.size() > 2 && name[0] == '.' && IsSeparator(name[1]))
        name.erase(0, 2);
    if (name.empty())
        return name;
    if (IsSeparator(name[0])) {
        // A share or a POSIX path stands; "\x" lies on the folder's drive.
        if (name[0] == '/' || (name.size() > 1 && IsSeparator(name[1])) || !HasDrive(folder))
            return name;
        return folder.substr(0, 2) + name;
    }
    if (HasDrive(name)) {
        if (name.size() > 2 && IsSeparator(name[2]))
            return name;
        const std::string rest = name.substr(2);
        if (HasDrive(folder) && UpperAscii(folder[0]) == UpperAscii(name[0]))
            return Joined(folder, rest);
        return name.substr(0, 2) + "\\" + rest;
    }
    return Joined(folder, name);
}

} // namespace qvx
