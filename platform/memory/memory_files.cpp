#include "platform/memory/memory_files.h"

#include <algorithm>
#include <cstring>

namespace qvx {

class TMemoryFile : public IFile {
public:
    TMemoryFile(TMemoryFiles& owner, std::string path, bool writable)
        : Owner(owner), Path(std::move(path)), Writable(writable) {}

    int64_t Size() override {
        std::lock_guard<std::mutex> guard(Owner.Guard);
        auto it = Owner.Contents.find(Path);
        return it == Owner.Contents.end() ? -1 : static_cast<int64_t>(it->second.size());
    }
    int64_t Read(void* buffer, size_t count) override {
        std::lock_guard<std::mutex> guard(Owner.Guard);
        auto it = Owner.Contents.find(Path);
        if (it == Owner.Contents.end() || Writable)
            return -1;
        size_t n = std::min(count, it->second.size() - std::min(Position, it->second.size()));
        if (n)
            std::memcpy(buffer, it->second.data() + Position, n);
        Position += n;
        return static_cast<int64_t>(n);
    }
    int64_t Write(const void* buffer, size_t count) override {
        std::lock_guard<std::mutex> guard(Owner.Guard);
        auto it = Owner.Contents.find(Path);
        if (it == Owner.Contents.end() || !Writable)
            return -1;
        if (Owner.WriteLimit >= 0 && static_cast<int64_t>(it->second.size()) >= Owner.WriteLimit)
            return -1;
        size_t n = count;
        if (Owner.WriteChunk)
            n = std::min(n, Owner.WriteChunk);
        if (Owner.WriteLimit >= 0)
            n = std::min(n, static_cast<size_t>(Owner.WriteLimit - it->second.size()));
        it->second.append(static_cast<const char*>(buffer), n);
        Owner.Unflushed.insert(Path);
        return static_cast<int64_t>(n);
    }
    bool Flush() override {
        std::lock_guard<std::mutex> guard(Owner.Guard);
        if (!Owner.Contents.count(Path) || Owner.FlushFails)
            return false;
        Owner.Unflushed.erase(Path);
        return true;
    }

private:
    TMemoryFiles& Owner;
    std::string Path;
    bool Writable;
    size_t Position = 0;
};

TMemoryFiles::TMemoryFiles()
    : CurrentDir("C:\\"), SystemDir("C:\\windows\\system32"), Program("C:\\Configurator.exe") {}

void TMemoryFiles::Put(const std::string& path, const std::string& content) {
    std::lock_guard<std::mutex> guard(Guard);
    Contents[path] = content;
    Unflushed.erase(path);
}

bool TMemoryFiles::Get(const std::string& path, std::string& content) const {
    std::lock_guard<std::mutex> guard(Guard);
    auto it = Contents.find(path);
    if (it == Contents.end())
        return false;
    content = it->second;
    return true;
}

void TMemoryFiles::Lock(const std::string& path, bool locked) {
    std::lock_guard<std::mutex> guard(Guard);
    if (locked)
        Locked.insert(path);
    else
        Locked.erase(path);
}

void TMemoryFiles::SetWriteChunk(size_t bytes) {
    std::lock_guard<std::mutex> guard(Guard);
    WriteChunk = bytes;
}

void TMemoryFiles::FailWritesAfter(int64_t bytes) {
    std::lock_guard<std::mutex> guard(Guard);
    WriteLimit = bytes;
}

void TMemoryFiles::SetFlushFails(bool fails) {
    std::lock_guard<std::mutex> guard(Guard);
    FlushFails = fails;
}

bool TMemoryFiles::Flushed(const std::string& path) const {
    std::lock_guard<std::mutex> guard(Guard);
    return Contents.count(path) && !Unflushed.count(path);
}

void TMemoryFiles::SetSystemFolder(const std::string& path) {
    std::lock_guard<std::mutex> guard(Guard);
    SystemDir = path;
}

void TMemoryFiles::SetProgramPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(Guard);
    Program = path;
}

std::vector<std::string> TMemoryFiles::Paths() const {
    std::lock_guard<std::mutex> guard(Guard);
    std::vector<std::string> paths;
    for (const auto& p : Contents)
        paths.push_back(p.first);
    return paths;
}

bool TMemoryFiles::FileExists(const std::string& path) {
    std::lock_guard<std::mutex> guard(Guard);
    return Contents.count(path) != 0;
}

bool TMemoryFiles::RemoveFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(Guard);
    if (Locked.count(path))
        return false;
    Unflushed.erase(path);
    return Contents.erase(path) != 0;
}

std::unique_ptr<IFile> TMemoryFiles::OpenRead(const std::string& path) {
    std::lock_guard<std::mutex> guard(Guard);
    if (Locked.count(path) || !Contents.count(path))
        return nullptr;
    return std::make_unique<TMemoryFile>(*this, path, false);
}

std::unique_ptr<IFile> TMemoryFiles::Create(const std::string& path) {
    std::lock_guard<std::mutex> guard(Guard);
    if (Locked.count(path))
        return nullptr;
    Contents[path].clear();
    Unflushed.insert(path);
    return std::make_unique<TMemoryFile>(*this, path, true);
}

bool TMemoryFiles::RenameReplacing(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> guard(Guard);
    auto it = Contents.find(from);
    if (it == Contents.end() || Locked.count(from) || Locked.count(to))
        return false;
    if (from == to)
        return true;
    Contents[to] = std::move(it->second);
    Contents.erase(from);
    if (Unflushed.erase(from))
        Unflushed.insert(to);
    else
        Unflushed.erase(to);
    return true;
}

std::string TMemoryFiles::GetCurrentDir() {
    std::lock_guard<std::mutex> guard(Guard);
    return CurrentDir;
}

bool TMemoryFiles::SetCurrentDir(const std::string& path) {
    std::lock_guard<std::mutex> guard(Guard);
    CurrentDir = path;
    return true;
}

std::string TMemoryFiles::SystemFolder() {
    std::lock_guard<std::mutex> guard(Guard);
    return SystemDir;
}

std::string TMemoryFiles::ProgramPath() {
    std::lock_guard<std::mutex> guard(Guard);
    return Program;
}

} // namespace qvx
