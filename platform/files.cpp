#include "platform/files.h"

namespace qvx {

bool ReadWholeFile(IFileSystem& files, const std::string& path, std::string& data) {
    std::unique_ptr<IFile> file = files.OpenRead(path);
    if (!file)
        return false;
    const int64_t size = file->Size();
    if (size < 0)
        return false;
    std::string content(static_cast<size_t>(size), '\0');
    size_t done = 0;
    while (done < content.size()) {
        int64_t n = file->Read(&content[done], content.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    data = std::move(content);
    return true;
}

} // namespace qvx
