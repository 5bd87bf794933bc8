#include "platform/memory/memory_registry.h"

#include <algorithm>
#include "platform/text.h"

namespace qvx {

namespace {

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string normal = NormalizeRegistryPath(path);
    size_t start = 0;
    while (start <= normal.size() && !normal.empty()) {
        size_t pos = normal.find('\\', start);
        if (pos == std::string::npos)
            pos = normal.size();
        if (pos > start)
            parts.push_back(normal.substr(start, pos - start));
        start = pos + 1;
    }
    return parts;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

// True when key equals prefix or lies below it.
bool IsAtOrBelow(const std::string& key, const std::string& prefix) {
    std::string k = NormalizeRegistryPath(key);
    std::string p = NormalizeRegistryPath(prefix);
    if (k.size() < p.size())
        return false;
    if (!EqualNoCase(k.substr(0, p.size()), p))
        return false;
    return k.size() == p.size() || k[p.size()] == '\\' || p.empty();
}

} // namespace

bool TMemoryRegistry::NoCase::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(LowerAscii(x)) <
               static_cast<unsigned char>(LowerAscii(y));
    });
}

class TMemoryRegistryKey : public IRegistryKey {
public:
    TMemoryRegistryKey(TMemoryRegistry& owner, std::string path, bool writable)
        : Owner(owner), Path(std::move(path)), Writable(writable) {}

    RegValueType TypeOf(const std::string& name) const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = Owner.Find(Path);
        TMemoryRegistry::Value* v = node ? TMemoryRegistry::FindValue(node, name) : nullptr;
        return v ? v->Type : RegValueType::Missing;
    }
    bool ReadString(const std::string& name, std::string& value) const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = Owner.Find(Path);
        TMemoryRegistry::Value* v = node ? TMemoryRegistry::FindValue(node, name) : nullptr;
        if (!v || v->Type != RegValueType::String)
            return false;
        value = v->Text;
        return true;
    }
    bool ReadDword(const std::string& name, uint32_t& value) const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = Owner.Find(Path);
        TMemoryRegistry::Value* v = node ? TMemoryRegistry::FindValue(node, name) : nullptr;
        if (!v || v->Type != RegValueType::Dword)
            return false;
        value = v->Number;
        return true;
    }
    bool WriteString(const std::string& name, const std::string& value) override {
        TMemoryRegistry::Value v;
        v.Type = RegValueType::String;
        // The system stores strings up to their first NUL.
        v.Text = value.substr(0, value.find('\0'));
        return Write(name, v);
    }
    bool WriteDword(const std::string& name, uint32_t value) override {
        TMemoryRegistry::Value v;
        v.Type = RegValueType::Dword;
        v.Number = value;
        return Write(name, v);
    }
    bool DeleteValue(const std::string& name) override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = Owner.Find(Path);
        if (!node || !Writable || Owner.ReadOnly(Path))
            return false;
        auto& values = node->Values;
        auto it = std::find_if(values.begin(), values.end(),
                               [&](const auto& p) { return EqualNoCase(p.first, name); });
        if (it == values.end())
            return false;
        values.erase(it);
        Owner.Touch(node);
        return true;
    }
    std::vector<std::string> ValueNames() const override { return Owner.ValueNamesOf(Path); }
    std::vector<std::string> SubkeyNames() const override { return Owner.SubkeyNamesOf(Path); }
    bool LastWriteTime(uint64_t& fileTime) const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = Owner.Find(Path);
        if (!node)
            return false;
        fileTime = node->LastWrite;
        return true;
    }

private:
    bool Write(const std::string& name, const TMemoryRegistry::Value& v) {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = Owner.Find(Path);
        if (!node || !Writable || Owner.ReadOnly(Path))
            return false;
        if (TMemoryRegistry::Value* old = TMemoryRegistry::FindValue(node, name))
            *old = v;
        else
            node->Values.emplace_back(name, v);
        Owner.Touch(node);
        return true;
    }

    TMemoryRegistry& Owner;
    std::string Path;
    bool Writable;
};

TMemoryRegistry::Node* TMemoryRegistry::Find(const std::string& path) const {
    const Node* node = &Root;
    for (const std::string& part : SplitPath(path)) {
        auto it = node->Subkeys.find(part);
        if (it == node->Subkeys.end())
            return nullptr;
        node = it->second.get();
    }
    return const_cast<Node*>(node);
}

TMemoryRegistry::Node* TMemoryRegistry::FindOrCreate(const std::string& path) {
    Node* node = &Root;
    for (const std::string& part : SplitPath(path)) {
        auto it = node->Subkeys.find(part);
        if (it == node->Subkeys.end()) {
            auto child = std::make_unique<Node>();
            Touch(node);
            Touch(child.get());
            it = node->Subkeys.emplace(part, std::move(child)).first;
        }
        node = it->second.get();
    }
    return node;
}

bool TMemoryRegistry::Denied(const std::string& path) const {
    for (const std::string& d : DeniedKeys)
        if (IsAtOrBelow(path, d))
            return true;
    return false;
}

bool TMemoryRegistry::ReadOnly(const std::string& path) const {
    for (const std::string& r : ReadOnlyKeys)
        if (IsAtOrBelow(path, r))
            return true;
    return false;
}

void TMemoryRegistry::Touch(Node* node) {
    node->LastWrite = ++Clock;
}

TMemoryRegistry::Value* TMemoryRegistry::FindValue(Node* node, const std::string& name) {
    for (auto& p : node->Values)
        if (EqualNoCase(p.first, name))
            return &p.second;
    return nullptr;
}

std::unique_ptr<IRegistryKey> TMemoryRegistry::OpenKey(const std::string& path, RegAccess access) {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    ++Opens;
    if (Denied(path) || !Find(path))
        return nullptr;
    return std::make_unique<TMemoryRegistryKey>(*this, NormalizeRegistryPath(path),
                                                access == RegAccess::AllAccess);
}

std::unique_ptr<IRegistryKey> TMemoryRegistry::CreateKey(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    ++Opens;
    if (Denied(path))
        return nullptr;
    if (!Find(path)) {
        if (ReadOnly(path))
            return nullptr;
        FindOrCreate(path);
    }
    return std::make_unique<TMemoryRegistryKey>(*this, NormalizeRegistryPath(path), true);
}

bool TMemoryRegistry::DeleteKey(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    std::vector<std::string> parts = SplitPath(path);
    if (parts.empty() || Denied(path) || ReadOnly(path))
        return false;
    std::string leaf = parts.back();
    parts.pop_back();
    Node* parent = &Root;
    for (const std::string& part : parts) {
        auto it = parent->Subkeys.find(part);
        if (it == parent->Subkeys.end())
            return false;
        parent = it->second.get();
    }
    if (parent->Subkeys.erase(leaf) == 0)
        return false;
    Touch(parent);
    return true;
}

bool TMemoryRegistry::KeyExists(const std::string& path) const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    return Find(path) != nullptr;
}

bool TMemoryRegistry::GetValue(const std::string& path, const std::string& name,
                               Value& value) const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    Node* node = Find(path);
    Value* v = node ? FindValue(node, name) : nullptr;
    if (!v)
        return false;
    value = *v;
    return true;
}

void TMemoryRegistry::SetString(const std::string& path, const std::string& name,
                                const std::string& text) {
    Value v;
    v.Type = RegValueType::String;
    v.Text = text;
    std::lock_guard<std::recursive_mutex> guard(Lock);
    Node* node = FindOrCreate(path);
    if (Value* old = FindValue(node, name))
        *old = v;
    else
        node->Values.emplace_back(name, v);
    Touch(node);
}

void TMemoryRegistry::SetDword(const std::string& path, const std::string& name, uint32_t number) {
    Value v;
    v.Type = RegValueType::Dword;
    v.Number = number;
    std::lock_guard<std::recursive_mutex> guard(Lock);
    Node* node = FindOrCreate(path);
    if (Value* old = FindValue(node, name))
        *old = v;
    else
        node->Values.emplace_back(name, v);
    Touch(node);
}

void TMemoryRegistry::SetOther(const std::string& path, const std::string& name,
                               const std::string& raw) {
    Value v;
    v.Type = RegValueType::Other;
    v.Text = raw;
    std::lock_guard<std::recursive_mutex> guard(Lock);
    Node* node = FindOrCreate(path);
    if (Value* old = FindValue(node, name))
        *old = v;
    else
        node->Values.emplace_back(name, v);
    Touch(node);
}

void TMemoryRegistry::RemoveValue(const std::string& path, const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    Node* node = Find(path);
    if (!node)
        return;
    auto& values = node->Values;
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const auto& p) { return EqualNoCase(p.first, name); });
    if (it != values.end()) {
        values.erase(it);
        Touch(node);
    }
}

void TMemoryRegistry::SetLastWrite(const std::string& path, uint64_t fileTime) {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    FindOrCreate(path)->LastWrite = fileTime;
}

std::vector<std::string> TMemoryRegistry::ValueNamesOf(const std::string& path) const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    std::vector<std::string> names;
    if (Node* node = Find(path))
        for (const auto& p : node->Values)
            names.push_back(p.first);
    return names;
}

std::vector<std::string> TMemoryRegistry::SubkeyNamesOf(const std::string& path) const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    std::vector<std::string> names;
    if (Node* node = Find(path))
        for (const auto& p : node->Subkeys)
            names.push_back(p.first);
    return names;
}

size_t TMemoryRegistry::KeyCount() const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    size_t count = 0;
    std::vector<const Node*> todo{&Root};
    while (!todo.empty()) {
        const Node* n = todo.back();
        todo.pop_back();
        for (const auto& p : n->Subkeys) {
            ++count;
            todo.push_back(p.second.get());
        }
    }
    return count;
}

void TMemoryRegistry::DenyKey(const std::string& path, bool deny) {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    if (deny)
        DeniedKeys.insert(NormalizeRegistryPath(path));
    else
        DeniedKeys.erase(NormalizeRegistryPath(path));
}

void TMemoryRegistry::MakeReadOnly(const std::string& path, bool readOnly) {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    if (readOnly)
        ReadOnlyKeys.insert(NormalizeRegistryPath(path));
    else
        ReadOnlyKeys.erase(NormalizeRegistryPath(path));
}

int TMemoryRegistry::OpenCount() const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    return Opens;
}

} // namespace qvx
