#pragma once
// Small helpers shared by the Windows test files.
#include <windows.h>

#include <cctype>
#include <string>

namespace qvx::testing_support {

// Paths compare without regard to case on this system.
inline std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A folder of this process's own below the temporary folder, e.g.
// "...\Temp\qvx_files_1234"; "" when it cannot be made.
inline std::string MakeTempFolder(const std::string& stem) {
    char temp[MAX_PATH] = {};
    if (GetTempPathA(MAX_PATH, temp) == 0)
        return std::string();
    const std::string folder =
        std::string(temp) + stem + "_" + std::to_string(GetCurrentProcessId());
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return std::string();
    return folder;
}

} // namespace qvx::testing_support
