#include "platform/memory/fake_libraries.h"

namespace qvx {

void TFakeLibraries::Add(const std::string& fileName, Symbols symbols) {
    std::lock_guard<std::mutex> guard(Lock);
    auto lib = std::make_unique<Lib>();
    lib->FileName = fileName;
    lib->Entries = std::move(symbols);
    Libraries[fileName] = std::move(lib);
}

void TFakeLibraries::Remove(const std::string& fileName) {
    std::lock_guard<std::mutex> guard(Lock);
    Libraries.erase(fileName);
}

LibraryHandle TFakeLibraries::Load(const std::string& fileName) {
    std::lock_guard<std::mutex> guard(Lock);
    Tried.push_back(fileName);
    auto it = Libraries.find(fileName);
    if (it == Libraries.end())
        return nullptr;
    ++it->second->References;
    return it->second.get();
}

void* TFakeLibraries::Resolve(LibraryHandle library, const std::string& name) {
    std::lock_guard<std::mutex> guard(Lock);
    for (auto& p : Libraries)
        if (p.second.get() == library) {
            auto e = p.second->Entries.find(name);
            return e == p.second->Entries.end() ? nullptr : e->second;
        }
    return nullptr;
}

void TFakeLibraries::Free(LibraryHandle library) {
    std::lock_guard<std::mutex> guard(Lock);
    for (auto& p : Libraries)
        if (p.second.get() == library && p.second->References > 0)
            --p.second->References;
}

std::vector<std::string> TFakeLibraries::Attempts() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Tried;
}

int TFakeLibraries::LoadedCount(const std::string& fileName) const {
    std::lock_guard<std::mutex> guard(Lock);
    auto it = Libraries.find(fileName);
    return it == Libraries.end() ? 0 : it->second->References;
}

} // namespace qvx
