#pragma once
// Files and process paths seam.
#include <cstdint>
#include <cstddef>
#include <memory>
#include <string>

namespace qvx {

class IFile {
public:
    virtual ~IFile() = default;
    // Size taken from a seek to the end; -1 on error.
    virtual int64_t Size() = 0;
    // Bytes moved, possibly fewer than asked; -1 on error.
    virtual int64_t Read(void* buffer, size_t count) = 0;
    virtual int64_t Write(const void* buffer, size_t count) = 0;
    // Hands everything written so far to the disk and waits until it is
    // there; false when that fails.
    virtual bool Flush() = 0;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    virtual bool FileExists(const std::string& path) = 0;
    virtual bool RemoveFile(const std::string& path) = 0;
    // Read-only, shared for reading; nullptr when it cannot be opened.
    virtual std::unique_ptr<IFile> OpenRead(const std::string& path) = 0;
    // Creates (or truncates) the file for writing; nullptr when it cannot.
    virtual std::unique_ptr<IFile> Create(const std::string& path) = 0;
    // Puts the file from in the place of the file to in one step, replacing
    // to when it exists, written through to the disk before it returns. Both
    // are in the same folder. False when it cannot (to in use, say): both are
    // then as they were.
    virtual bool RenameReplacing(const std::string& from, const std::string& to) = 0;
    virtual std::string GetCurrentDir() = 0;
    virtual bool SetCurrentDir(const std::string& path) = 0;
    // The system folder, without a trailing "\".
    virtual std::string SystemFolder() = 0;
    // Full path of the program file.
    virtual std::string ProgramPath() = 0;
};

// Reads the whole file: opens it read-only, takes the size from a seek to the
// end and reads that many bytes. False when it cannot be opened or read.
bool ReadWholeFile(IFileSystem& files, const std::string& path, std::string& data);

} // namespace qvx
