#include "platform/win32/win_registry.h"

#include <windows.h>

#include <vector>

namespace qvx {

namespace {

// Longest key or value name the system allows, plus the terminating NUL.
constexpr DWORD MaxNameChars = 16384;

using EnumFn = LONG (*)(HKEY key, DWORD index, char* name, DWORD* nameChars);

LONG EnumKeyName(HKEY key, DWORD index, char* name, DWORD* nameChars) {
    return RegEnumKeyExA(key, index, name, nameChars, nullptr, nullptr, nullptr, nullptr);
}

LONG EnumValueName(HKEY key, DWORD index, char* name, DWORD* nameChars) {
    return RegEnumValueA(key, index, name, nameChars, nullptr, nullptr, nullptr, nullptr);
}

// All names in the order the registry enumerates them. Stops early when the
// enumeration fails for another reason than its end.
std::vector<std::string> EnumNames(HKEY key, EnumFn next) {
    std::vector<std::string> names;
    std::vector<char> buffer(256);
    DWORD index = 0;
    for (;;) {
        DWORD chars = static_cast<DWORD>(buffer.size());
        LONG rc = next(key, index, buffer.data(), &chars);
        if (rc == ERROR_MORE_DATA && buffer.size() < MaxNameChars) {
            buffer.resize(MaxNameChars); // the same entry again, with room for any name
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return names;
        names.emplace_back(buffer.data(), chars);
        ++index;
    }
}

RegValueType TypeFromSystem(DWORD type) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return RegValueType::String;
    case REG_DWORD:
        return RegValueType::Dword;
    default:
        return RegValueType::Other;
    }
}

class TWinRegistryKey : public IRegistryKey {
public:
    explicit TWinRegistryKey(HKEY key) : Key(key) {}
    ~TWinRegistryKey() override { RegCloseKey(Key); }
    TWinRegistryKey(const TWinRegistryKey&) = delete;
    TWinRegistryKey& operator=(const TWinRegistryKey&) = delete;

    RegValueType TypeOf(const std::string& name) const override {
        DWORD type = REG_NONE;
        if (RegQueryValueExA(Key, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
            return RegValueType::Missing;
        return TypeFromSystem(type);
    }

    bool ReadString(const std::string& name, std::string& value) const override {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (!ReadRaw(name, type, data) || TypeFromSystem(type) != RegValueType::String)
            return false;
        // The stored terminator (if any) and anything after it is not text.
        std::string text(reinterpret_cast<const char*>(data.data()), data.size());
        value = text.substr(0, text.find('\0'));
        return true;
    }

    bool ReadDword(const std::string& name, uint32_t& value) const override {
        DWORD type = REG_NONE;
        DWORD number = 0;
        DWORD size = sizeof(number);
        LONG rc = RegQueryValueExA(Key, name.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(&number), &size);
        if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(number))
            return false;
        value = number;
        return true;
    }

    bool WriteString(const std::string& name, const std::string& value) override {
        // The system keeps a string up to its first NUL; store exactly that.
        std::string text = value.substr(0, value.find('\0'));
        return RegSetValueExA(Key, name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    }

    bool WriteDword(const std::string& name, uint32_t value) override {
        DWORD number = value;
        return RegSetValueExA(Key, name.c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&number),
                              sizeof(number)) == ERROR_SUCCESS;
    }

    bool DeleteValue(const std::string& name) override {
        return RegDeleteValueA(Key, name.c_str()) == ERROR_SUCCESS;
    }

    std::vector<std::string> ValueNames() const override { return EnumNames(Key, EnumValueName); }
    std::vector<std::string> SubkeyNames() const override { return EnumNames(Key, EnumKeyName); }

    bool LastWriteTime(uint64_t& fileTime) const override {
        FILETIME written = {};
        if (RegQueryInfoKeyA(Key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, &written) != ERROR_SUCCESS)
            return false;
        fileTime = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
        return true;
    }

private:
    // The value's type and data of whatever length: the size is asked first,
    // and asked again when the value grew between the two calls.
    bool ReadRaw(const std::string& name, DWORD& type, std::vector<BYTE>& data) const {
        DWORD size = 0;
        LONG rc = RegQueryValueExA(Key, name.c_str(), nullptr, &type, nullptr, &size);
        while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
            data.resize(size);
            DWORD got = size;
            rc = RegQueryValueExA(Key, name.c_str(), nullptr, &type,
                                  data.empty() ? nullptr : data.data(), &got);
            if (rc == ERROR_SUCCESS) {
                data.resize(got);
                return true;
            }
            if (rc == ERROR_MORE_DATA)
                size = got > size ? got : size * 2 + 64;
        }
        return false;
    }

    HKEY Key;
};

// Deletes sub below parent with everything below it. Windows before Vista
// has no call for a whole tree, and RegDeleteKeyA refuses a key that still
// has subkeys.
bool DeleteTree(HKEY parent, const std::string& sub) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(parent, sub.c_str(), 0,
                            KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE, &key);
    if (rc != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (const std::string& child : EnumNames(key, EnumKeyName))
        ok = DeleteTree(key, child) && ok;
    RegCloseKey(key);
    return ok && RegDeleteKeyA(parent, sub.c_str()) == ERROR_SUCCESS;
}

} // namespace

std::unique_ptr<IRegistryKey> TWinRegistry::OpenKey(const std::string& path, RegAccess access) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, NormalizeRegistryPath(path).c_str(), 0,
                      static_cast<REGSAM>(access), &key) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<TWinRegistryKey>(key);
}

std::unique_ptr<IRegistryKey> TWinRegistry::CreateKey(const std::string& path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, NormalizeRegistryPath(path).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<TWinRegistryKey>(key);
}

bool TWinRegistry::DeleteKey(const std::string& path) {
    std::string normal = NormalizeRegistryPath(path);
    if (normal.empty())
        return false;
    return DeleteTree(HKEY_LOCAL_MACHINE, normal);
}

} // namespace qvx
