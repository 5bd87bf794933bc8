#include "platform/win32/win_libraries.h"

#include <windows.h>

namespace qvx {

LibraryHandle TWinLibraries::Load(const std::string& fileName) {
    return LoadLibraryA(fileName.c_str());
}

void* TWinLibraries::Resolve(LibraryHandle library, const std::string& name) {
    if (!library)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name.c_str()));
}

void TWinLibraries::Free(LibraryHandle library) {
    if (library)
        FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace qvx
