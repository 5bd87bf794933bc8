#pragma once
// Files held in memory for the native tests, with faults: locked files (no
// delete, no open, not replaced), short writes, a write that fails after a
// number of bytes, a flush that fails. Each file knows whether everything
// written to it has been flushed.
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
    // Every Flush fails.
    void SetFlushFails(bool fails);
    // Whether the file exists and every byte written to it since it was
    // created has been flushed (a file put by a test counts as flushed).
    bool Flushed(const std::string& path) const;
    void SetSystemFolder(const std::string& path);
    void SetProgramPath(const std::string& path);
    std::vector<std::string> Paths() const;

    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    std::unique_ptr<IFile> OpenRead(const std::string& path) override;
    std::unique_ptr<IFile> Create(const std::string& path) override;
    // Fails when either file is locked or from does not exist.
    bool RenameReplacing(const std::string& from, const std::string& to) override;
    std::string GetCurrentDir() override;
    bool SetCurrentDir(const std::string& path) override;
    std::string SystemFolder() override;
    std::string ProgramPath() override;

private:
    friend class TMemoryFile;
    mutable std::mutex Guard;
    std::map<std::string, std::string> Contents;
    std::set<std::string> Locked;
    std::set<std::string> Unflushed;
    bool FlushFails = false;
    size_t WriteChunk = 0;
    int64_t WriteLimit = -1;
    std::string CurrentDir;
    std::string SystemDir;
    std::string Program;
};

} // namespace qvx
