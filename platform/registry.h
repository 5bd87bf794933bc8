#pragma once
// Registry seam: keys below HKEY_LOCAL_MACHINE (32-bit view). Paths are relative
// to HKEY_LOCAL_MACHINE; a leading "\" is accepted and ignored. Key and value
// names compare case-insensitively, as the system registry does.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvx {

enum class RegValueType { Missing, String, Dword, Other };

// Access masks as the system defines them.
enum class RegAccess : uint32_t {
    Read = 0x20019,      // KEY_READ
    AllAccess = 0xF003F, // KEY_ALL_ACCESS
};

class IRegistryKey {
public:
    virtual ~IRegistryKey() = default;
    virtual RegValueType TypeOf(const std::string& name) const = 0;
    // False when the value is missing or of another type.
    virtual bool ReadString(const std::string& name, std::string& value) const = 0;
    virtual bool ReadDword(const std::string& name, uint32_t& value) const = 0;
    // The name "" is the key's default value. False when the write failed.
    virtual bool WriteString(const std::string& name, const std::string& value) = 0;
    virtual bool WriteDword(const std::string& name, uint32_t value) = 0;
    virtual bool DeleteValue(const std::string& name) = 0;
    // In the order the registry enumerates them.
    virtual std::vector<std::string> ValueNames() const = 0;
    virtual std::vector<std::string> SubkeyNames() const = 0;
    // 64-bit file time of the key's last write; false when it cannot be read.
    virtual bool LastWriteTime(uint64_t& fileTime) const = 0;
};

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // Opens an existing key; nullptr when it does not exist or may not be opened.
    virtual std::unique_ptr<IRegistryKey> OpenKey(const std::string& path, RegAccess access) = 0;
    // Opens the key with full access, creating it and its parents when missing;
    // nullptr when that fails.
    virtual std::unique_ptr<IRegistryKey> CreateKey(const std::string& path) = 0;
    // Deletes the key with all its subkeys and values.
    virtual bool DeleteKey(const std::string& path) = 0;
};

// "\A\B\" -> "A\B": the form every implementation works on.
std::string NormalizeRegistryPath(const std::string& path);

} // namespace qvx
