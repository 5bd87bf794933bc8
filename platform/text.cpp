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

} // namespace qvx
