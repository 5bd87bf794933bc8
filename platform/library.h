#pragma once
// Dynamic library seam: load by file name (the system's search order applies),
// resolve entry points by name, release.
#include <string>

namespace qvx {

using LibraryHandle = void*;

class ILibraryLoader {
public:
    virtual ~ILibraryLoader() = default;
    // nullptr when the library does not load.
    virtual LibraryHandle Load(const std::string& fileName) = 0;
    // nullptr when the entry point is missing.
    virtual void* Resolve(LibraryHandle library, const std::string& name) = 0;
    virtual void Free(LibraryHandle library) = 0;
};

// Entry points come back as untyped addresses; callers cast them to the
// function type they know.
template <typename Fn> Fn ResolveAs(ILibraryLoader& loader, LibraryHandle lib, const char* name) {
    return reinterpret_cast<Fn>(loader.Resolve(lib, name));
}

} // namespace qvx
