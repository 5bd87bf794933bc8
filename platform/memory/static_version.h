#pragma once
// A version resource given as a table of sub-block paths and strings.
#include "platform/version.h"

#include <map>

namespace qvx {

class TStaticVersion : public IVersionResource {
public:
    TStaticVersion() = default;
    explicit TStaticVersion(std::map<std::string, std::string> strings);
    // The strings of the program's own resource (block 040904E4).
    static TStaticVersion Product();

    uint32_t Size() override;
    bool Load() override;
    bool Query(const std::string& subBlock, std::string& value) override;
    void Release() override;

    bool IsLoaded() const { return Loaded; }

private:
    std::map<std::string, std::string> Strings;
    bool Loaded = false;
};

} // namespace qvx
