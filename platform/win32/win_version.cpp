#include "platform/win32/win_version.h"

#include "platform/win32/win_files.h"

#include <windows.h>

#include <string.h>

namespace qvx {

namespace {

std::string OwnFile() {
    return TWinFiles().ProgramPath();
}

bool IsStringBlock(const std::string& path) {
    static const char prefix[] = "\\StringFileInfo\\";
    return _strnicmp(path.c_str(), prefix, sizeof(prefix) - 1) == 0;
}

} // namespace

uint32_t TWinVersion::Size() {
    DWORD ignored = 0;
    return GetFileVersionInfoSizeA(OwnFile().c_str(), &ignored);
}

bool TWinVersion::Load() {
    Data.clear();
    std::string file = OwnFile();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()))
        return false;
    Data.swap(data);
    return true;
}

bool TWinVersion::Query(const std::string& subBlock, std::string& value) {
    if (Data.empty())
        return false;
    // The lookup takes the path from the root; "A\B" and "\A\B" name the same block.
    std::string path = subBlock.empty() || subBlock[0] != '\\' ? "\\" + subBlock : subBlock;
    void* found = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(Data.data(), path.c_str(), &found, &length) || !found)
        return false;
    std::string bytes(static_cast<const char*>(found), length);
    if (IsStringBlock(path))
        bytes = bytes.substr(0, bytes.find('\0'));
    value = bytes;
    return true;
}

void TWinVersion::Release() {
    Data.clear();
    Data.shrink_to_fit();
}

} // namespace qvx
