#include "platform/win32/win_files.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace qvx {

namespace {

// One call moves at most this much, so that the count fits a DWORD.
constexpr size_t MaxChunk = 0x40000000;

class TWinFile : public IFile {
public:
    explicit TWinFile(HANDLE handle) : Handle(handle) {}
    ~TWinFile() override { CloseHandle(Handle); }
    TWinFile(const TWinFile&) = delete;
    TWinFile& operator=(const TWinFile&) = delete;

    // The end found by a seek; the read and write position is put back.
    int64_t Size() override {
        int64_t here = Seek(0, FILE_CURRENT);
        if (here < 0)
            return -1;
        int64_t end = Seek(0, FILE_END);
        if (Seek(here, FILE_BEGIN) < 0)
            return -1;
        return end;
    }

    int64_t Read(void* buffer, size_t count) override {
        DWORD moved = 0;
        if (!ReadFile(Handle, buffer, static_cast<DWORD>(count < MaxChunk ? count : MaxChunk),
                      &moved, nullptr))
            return -1;
        return moved;
    }

    int64_t Write(const void* buffer, size_t count) override {
        DWORD moved = 0;
        if (!WriteFile(Handle, buffer, static_cast<DWORD>(count < MaxChunk ? count : MaxChunk),
                       &moved, nullptr))
            return -1;
        return moved;
    }

    bool Flush() override { return FlushFileBuffers(Handle) != 0; }

private:
    // New position, or -1. A low part of INVALID_SET_FILE_POINTER is a real
    // position unless the last error says otherwise.
    int64_t Seek(int64_t offset, DWORD method) {
        LONG high = static_cast<LONG>(offset >> 32);
        SetLastError(NO_ERROR);
        DWORD low = SetFilePointer(Handle, static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
            return -1;
        return (static_cast<int64_t>(high) << 32) | low;
    }

    HANDLE Handle;
};

std::unique_ptr<IFile> OpenHandle(const std::string& path, DWORD access, DWORD share,
                                  DWORD disposition) {
    HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::make_unique<TWinFile>(handle);
}

} // namespace

bool TWinFiles::FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TWinFiles::RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

std::unique_ptr<IFile> TWinFiles::OpenRead(const std::string& path) {
    return OpenHandle(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

std::unique_ptr<IFile> TWinFiles::Create(const std::string& path) {
    return OpenHandle(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
}

bool TWinFiles::RenameReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string TWinFiles::GetCurrentDir() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0)
            return std::string();
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(length); // the size needed, terminator included
    }
}

bool TWinFiles::SetCurrentDir(const std::string& path) {
    return SetCurrentDirectoryA(path.c_str()) != 0;
}

std::string TWinFiles::SystemFolder() {
    char buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        return std::string();
    std::string folder = buffer;
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

std::string TWinFiles::ProgramPath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::string();
        // A full buffer means the name may have been cut.
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace qvx
