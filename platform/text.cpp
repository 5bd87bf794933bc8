#include "platform/text.h"

#include <algorithm>

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
