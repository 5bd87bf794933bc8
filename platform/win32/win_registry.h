#pragma once
// The registry seam over HKEY_LOCAL_MACHINE through the ANSI registry API.
// Keys open in the view native to a 32-bit process (no view flag). Stateless:
// one instance may be used from several threads at once.
#include "platform/registry.h"

namespace qvx {

class TWinRegistry : public IRegistry {
public:
    std::unique_ptr<IRegistryKey> OpenKey(const std::string& path, RegAccess access) override;
    std::unique_ptr<IRegistryKey> CreateKey(const std::string& path) override;
    // Removes the subkeys depth first, then the key itself; HKEY_LOCAL_MACHINE
    // itself (an empty path) is never deleted.
    bool DeleteKey(const std::string& path) override;
};

} // namespace qvx
