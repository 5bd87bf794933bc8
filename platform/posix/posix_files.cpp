#include "platform/posix/posix_files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {

namespace {

class TPosixFile : public IFile {
public:
    explicit TPosixFile(int fd) : Fd(fd) {}
    ~TPosixFile() override { close(Fd); }
    TPosixFile(const TPosixFile&) = delete;
    TPosixFile& operator=(const TPosixFile&) = delete;

    // The end found by a seek; the read and write position is put back.
    int64_t Size() override {
        const off_t here = lseek(Fd, 0, SEEK_CUR);
        if (here < 0)
            return -1;
        const off_t end = lseek(Fd, 0, SEEK_END);
        if (lseek(Fd, here, SEEK_SET) < 0)
            return -1;
        return end;
    }

    int64_t Read(void* buffer, size_t count) override {
        ssize_t n;
        do
            n = read(Fd, buffer, count);
        while (n < 0 && errno == EINTR);
        return n;
    }

    int64_t Write(const void* buffer, size_t count) override {
        ssize_t n;
        do
            n = write(Fd, buffer, count);
        while (n < 0 && errno == EINTR);
        return n;
    }

    bool Flush() override { return fsync(Fd) == 0; }

private:
    int Fd;
};

std::unique_ptr<IFile> OpenFd(const std::string& path, int flags) {
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    return std::make_unique<TPosixFile>(fd);
}

} // namespace

bool TPosixFiles::FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool TPosixFiles::RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

std::unique_ptr<IFile> TPosixFiles::OpenRead(const std::string& path) {
    if (!FileExists(path))
        return nullptr;
    return OpenFd(path, O_RDONLY);
}

std::unique_ptr<IFile> TPosixFiles::Create(const std::string& path) {
    return OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC);
}

bool TPosixFiles::RenameReplacing(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) != 0)
        return false;
    // The new name is kept once the folder is on the disk; the file has been
    // replaced even when that cannot be waited for.
    const size_t slash = to.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : to.substr(0, slash ? slash : 1);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return true;
}

std::string TPosixFiles::GetCurrentDir() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

bool TPosixFiles::SetCurrentDir(const std::string& path) {
    return chdir(path.c_str()) == 0;
}

std::string TPosixFiles::ProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

} // namespace qvx
