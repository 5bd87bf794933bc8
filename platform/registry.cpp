#include "platform/registry.h"

namespace qvx {

std::string NormalizeRegistryPath(const std::string& path) {
    size_t begin = 0;
    size_t end = path.size();
    while (begin < end && path[begin] == '\\')
        ++begin;
    while (end > begin && path[end - 1] == '\\')
        --end;
    return path.substr(begin, end - begin);
}

} // namespace qvx
