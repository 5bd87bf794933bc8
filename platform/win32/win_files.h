#pragma once
// Files and process paths through the ANSI file API.
#include "platform/files.h"

namespace qvx {

class TWinFiles : public IFileSystem {
public:
    // Existing files only: a folder of that name does not count.
    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    std::unique_ptr<IFile> OpenRead(const std::string& path) override;
    // Exclusive while it is open: nobody reads a half-written file.
    std::unique_ptr<IFile> Create(const std::string& path) override;
    // MoveFileEx, replacing and written through.
    bool RenameReplacing(const std::string& from, const std::string& to) override;
    std::string GetCurrentDir() override;
    bool SetCurrentDir(const std::string& path) override;
    std::string SystemFolder() override;
    std::string ProgramPath() override;
};

} // namespace qvx
