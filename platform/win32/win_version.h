#pragma once
// The version resource of the program's own file (the module that started
// the process), read with the version-information API.
#include "platform/version.h"

#include <vector>

namespace qvx {

class TWinVersion : public IVersionResource {
public:
    uint32_t Size() override;
    bool Load() override;
    // String blocks come back up to their terminator; other blocks (e.g.
    // "\VarFileInfo\Translation") as the raw bytes.
    bool Query(const std::string& subBlock, std::string& value) override;
    void Release() override;

private:
    std::vector<unsigned char> Data;
};

} // namespace qvx
