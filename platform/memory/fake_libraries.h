#pragma once
// Libraries made of named addresses, for the native tests. Records which file
// names were tried and how often each library is loaded and freed.
#include "platform/library.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace qvx {

class TFakeLibraries : public ILibraryLoader {
public:
    using Symbols = std::map<std::string, void*>;

    // Makes fileName loadable with these entry points.
    void Add(const std::string& fileName, Symbols symbols);
    void Remove(const std::string& fileName);

    LibraryHandle Load(const std::string& fileName) override;
    void* Resolve(LibraryHandle library, const std::string& name) override;
    void Free(LibraryHandle library) override;

    std::vector<std::string> Attempts() const; // every Load call's file name
    int LoadedCount(const std::string& fileName) const; // loads minus frees

private:
    struct Lib {
        std::string FileName;
        Symbols Entries;
        int References = 0;
    };
    mutable std::mutex Lock;
    std::map<std::string, std::unique_ptr<Lib>> Libraries;
    std::vector<std::string> Tried;
};

} // namespace qvx
