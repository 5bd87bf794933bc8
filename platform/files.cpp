#include "platform/files.h"

#include <exception>

namespace qvx {

bool ReadWholeFile(IFileSystem& files, const std::string& path, std::string& data) {
    std::unique_ptr<IFile> file = files.OpenRead(path);
    if (!file)
        return false;
    const int64_t size = file->Size();
    std::string content;
    if (size < 0 || static_cast<uint64_t>(size) > content.max_size())
        return false;
    try {
        content.resize(static_cast<size_t>(size));
    } catch (const std::exception&) {
        return false; // no memory for a file that large
    }
    size_t done = 0;
    while (done < content.size()) {
        int64_t n = file->Read(&content[done], content.size() - done);
        // A file that ends before its size is as much a failure as a read
        // error: the caller would otherwise work on a truncated image.
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    data = std::move(content);
    return true;
}

} // namespace qvx
