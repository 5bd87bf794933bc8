#include "serdev/d2xx.h"

namespace qvx {

LibraryHandle LoadD2xxLibrary(ILibraryLoader& loader) {
    for (const char* name : D2xxLibraryNames)
        if (LibraryHandle lib = loader.Load(name))
            return lib;
    return nullptr;
}

std::string D2xxField(const uint8_t* record, size_t offset, size_t length) {
    const char* begin = reinterpret_cast<const char*>(record + offset);
    size_t n = 0;
    while (n < length && begin[n] != '\0')
        ++n;
    return std::string(begin, n);
}

} // namespace qvx
