#pragma once
// What the Windows benchmarks share: the system's library loader and a user
// interface that shows nothing and writes any message box to stderr.
#include "platform/library.h"
#include "platform/userio.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace qvx::bench {

class TLoader : public ILibraryLoader {
public:
    LibraryHandle Load(const std::string& name) override { return LoadLibraryA(name.c_str()); }
    void* Resolve(LibraryHandle lib, const std::string& name) override {
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name.c_str()));
    }
    void Free(LibraryHandle lib) override { FreeLibrary(static_cast<HMODULE>(lib)); }
};

class TSilentUserIo : public IUserIo {
public:
    int ShowBox(const std::string& text, const std::string&, unsigned, TBoxOwner) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return 1;
    }
    bool OpenFileDialog(TOpenFileRequest&) override { return false; }
    bool SetClipboardText(const std::string&) override { return false; }
    bool ShellOpen(const std::string&, const std::string&, const std::string&) override {
        return false;
    }
};

} // namespace qvx::bench
