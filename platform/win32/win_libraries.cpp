#include "platform/win32/win_libraries.h"

#include <windows.h>

#include <vector>

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

bool KeepCurrentFolderOutOfLibrarySearch() {
    // Any folder named here replaces the current folder in the search; the
    // program's own folder already comes first, so naming it again leaves the
    // order otherwise as it was. (Wine reads an empty name as no name at all
    // and keeps the current folder, so the empty name is not enough.)
    std::vector<wchar_t> path(MAX_PATH);
    DWORD length = 0;
    for (;;) {
        length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return false;
        if (length < path.size())
            break;
        path.resize(path.size() * 2);
    }
    while (length > 0 && path[length - 1] != L'\\' && path[length - 1] != L'/')
        --length;
    path[length] = L'\0';
    const bool removed = SetDllDirectoryW(length > 0 ? path.data() : L"") != FALSE;
    // Searches for other files (SearchPath) look in the current folder last.
    SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
    return removed;
}

} // namespace qvx
