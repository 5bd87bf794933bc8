#pragma once
// Dynamic libraries through LoadLibraryA / GetProcAddress / FreeLibrary.
#include "platform/library.h"

namespace qvx {

class TWinLibraries : public ILibraryLoader {
public:
    LibraryHandle Load(const std::string& fileName) override;
    // nullptr for a null library as well as for a missing entry point.
    void* Resolve(LibraryHandle library, const std::string& name) override;
    // A null library is ignored.
    void Free(LibraryHandle library) override;
};

} // namespace qvx
