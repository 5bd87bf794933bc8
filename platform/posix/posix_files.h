#pragma once
// Files and process paths on POSIX calls. The system folder is "/"; the
// program path comes from /proc/self/exe.
#include "platform/files.h"
#include "platform/library.h"

namespace qvx {

class TPosixFiles : public IFileSystem {
public:
    // Regular files only: a folder of that name does not count.
    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    std::unique_ptr<IFile> OpenRead(const std::string& path) override;
    std::unique_ptr<IFile> Create(const std::string& path) override;
    // rename, then the folder synced.
    bool RenameReplacing(const std::string& from, const std::string& to) override;
    std::string GetCurrentDir() override;
    bool SetCurrentDir(const std::string& path) override;
    std::string SystemFolder() override { return "/"; }
    std::string ProgramPath() override;
};

// No library ever loads: the optional ones turn their features off.
class TNoLibraries : public ILibraryLoader {
public:
    LibraryHandle Load(const std::string&) override { return nullptr; }
    void* Resolve(LibraryHandle, const std::string&) override { return nullptr; }
    void Free(LibraryHandle) override {}
};

} // namespace qvx
