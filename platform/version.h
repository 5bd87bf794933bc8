#pragma once
// The program's own version resource.
#include <cstdint>
#include <string>

namespace qvx {

class IVersionResource {
public:
    virtual ~IVersionResource() = default;
    // Size of the version data; 0 when the program has none.
    virtual uint32_t Size() = 0;
    virtual bool Load() = 0;
    // Looks up a sub-block such as "StringFileInfo\040904E4\ProductName" in the
    // loaded data; false when absent or nothing is loaded.
    virtual bool Query(const std::string& subBlock, std::string& value) = 0;
    virtual void Release() = 0;
};

} // namespace qvx
