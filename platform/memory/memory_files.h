#pragma once
// Files held in memory for the native tests, with faults: locked files (no
// delete, no open), short writes, a write that fails after a number of bytes.
#include "platform/files.h"

#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace qvx {

class TMemoryFiles : public IFileSystem {
public:
    TMemoryFiles();

    void Put(const std::string& path, const std::string& content);
    bool Get(const std::string& path, std::string& content) const;
    void Lock(const std::string& path, bool locked = true);
    // Every Write call moves at most this many bytes (0 = no limit).
    void SetWriteChunk(size_t bytes);
    // Writes fail once a file holds this many bytes (-1 = never).
    void FailWritesAfter(int64_t bytes);
    void SetSystemFolder(const std::string& path);
    void SetProgramPath(const std::string& path);
    std::vector<std::string> Paths() const;

    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    std::unique_ptr<IFile> OpenRead(const std::string& path) override;
    std::unique_ptr<IFile> Create(const std::string& path) override;
    std::string GetCurrentDir() override;
    bool SetCurrentDir(const std::string& path) override;
    std::string SystemFolder() override;
    std::string ProgramPath() override;

private:
    friend class TMemoryFile;
    mutable std::mutex Guard;
    std::map<std::string, std::string> Contents;
    std::set<std::string> Locked;
    size_t WriteChunk = 0;
    int64_t WriteLimit = -1;
    std::string CurrentDir;
    std::string SystemDir;
    std::string Program;
};

} // namespace qvx
