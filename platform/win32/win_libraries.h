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

// Takes the current folder out of the search for libraries loaded by bare
// name, for the rest of the process; the program's folder, the system
// folders and PATH keep their order. The program runs elevated and is often
// started in a folder that anyone may write to (a double-click on a firmware
// file in a download folder), where a library of the right name must not run.
// Call it before the first library is loaded. False when the system refused.
bool KeepCurrentFolderOutOfLibrarySearch();

} // namespace qvx
