#pragma once
// In-memory registry for the native tests: a tree of keys below
// HKEY_LOCAL_MACHINE with case-insensitive names, last-write times from a
// counter, and faults a test can switch on per key. Thread-safe.
#include "platform/registry.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qvx {

class TMemoryRegistry : public IRegistry {
public:
    struct Value {
        RegValueType Type = RegValueType::Missing;
        std::string Text;    // String, and the raw bytes of Other
        uint32_t Number = 0; // Dword
    };

    std::unique_ptr<IRegistryKey> OpenKey(const std::string& path, RegAccess access) override;
    std::unique_ptr<IRegistryKey> CreateKey(const std::string& path) override;
    bool DeleteKey(const std::string& path) override;

    // Direct access for tests (no faults apply).
    bool KeyExists(const std::string& path) const;
    bool GetValue(const std::string& path, const std::string& name, Value& value) const;
    void SetString(const std::string& path, const std::string& name, const std::string& text);
    void SetDword(const std::string& path, const std::string& name, uint32_t number);
    void SetOther(const std::string& path, const std::string& name, const std::string& raw);
    void RemoveValue(const std::string& path, const std::string& name);
    void SetLastWrite(const std::string& path, uint64_t fileTime);
    std::vector<std::string> ValueNamesOf(const std::string& path) const;
    std::vector<std::string> SubkeyNamesOf(const std::string& path) const;
    size_t KeyCount() const;

    // Faults: a denied key (and everything below it) does not open or get
    // created; writes into a read-only key (or below it) fail.
    void DenyKey(const std::string& path, bool deny = true);
    void MakeReadOnly(const std::string& path, bool readOnly = true);
    // How many times keys were opened or created through the seam.
    int OpenCount() const;

private:
    friend class TMemoryRegistryKey;
    // Transparent, so that a path is looked up part by part without a copy.
    struct NoCase {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    struct Node {
        std::string Name; // as spelled when the key was created
        // In the order of their names with the case folded; a name is there once.
        std::vector<std::unique_ptr<Node>> Subkeys;
        std::vector<std::pair<std::string, Value>> Values; // creation order
        uint64_t LastWrite = 0;
    };

    Node* Find(const std::string& path) const;
    Node* FindOrCreate(const std::string& path);
    bool Denied(const std::string& path) const;
    bool ReadOnly(const std::string& path) const;
    void Touch(Node* node);
    static Value* FindValue(Node* node, const std::string& name);
    // The index of the subkey called name, or where it would go; found says which.
    static size_t FindSubkey(const Node* node, std::string_view name, bool& found);

    mutable std::recursive_mutex Lock;
    Node Root;
    uint64_t Clock = 1000;
    std::set<std::string, NoCase> DeniedKeys;
    std::set<std::string, NoCase> ReadOnlyKeys;
    int Opens = 0;
    uint64_t Deletions = 0; // keys removed: open keys look for their node again
};

} // namespace qvx
