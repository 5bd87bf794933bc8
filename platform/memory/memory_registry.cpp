#include "platform/memory/memory_registry.h"

#include "platform/text.h"

#include <algorithm>

namespace qvx {

namespace {

// LowerAscii as a table: the comparisons below run for every part of every
// path looked up, and cost no call per byte this way.
struct TFoldTable {
    unsigned char Map[256];
    TFoldTable() {
        for (int c = 0; c < 256; ++c)
            Map[c] = static_cast<unsigned char>(LowerAscii(static_cast<char>(c)));
    }
};
const unsigned char* FoldMap() {
    static const TFoldTable table;
    return table.Map;
}

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

// The part of path that begins at or after pos, as SplitPath cuts it; pos
// moves past it. Empty when no part is left.
std::string_view NextPart(const std::string& path, size_t& pos) {
    const char* const text = path.data();
    const size_t size = path.size();
    while (pos < size && text[pos] == '\\')
        ++pos;
    const size_t start = pos;
    while (pos < size && text[pos] != '\\')
        ++pos;
    return std::string_view(text + start, pos - start);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    const size_t size = a.size();
    if (size != b.size())
        return false;
    const unsigned char* fold = FoldMap();
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a.data());
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b.data());
    for (size_t i = 0; i < size; ++i)
        if (fold[x[i]] != fold[y[i]])
            return false;
    return true;
}

// -1, 0 or 1 as a sorts before, with or after b, the ASCII letters folded to
// lower case, other bytes by value.
int CompareNoCase(std::string_view a, std::string_view b) {
    const size_t size = a.size() < b.size() ? a.size() : b.size();
    const unsigned char* fold = FoldMap();
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a.data());
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b.data());
    for (size_t i = 0; i < size; ++i) {
        const unsigned char fx = fold[x[i]];
        const unsigned char fy = fold[y[i]];
        if (fx != fy)
            return fx < fy ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
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

bool TMemoryRegistry::NoCase::operator()(std::string_view a, std::string_view b) const {
    return CompareNoCase(a, b) < 0;
}

class TMemoryRegistryKey : public IRegistryKey {
public:
    TMemoryRegistryKey(TMemoryRegistry& owner, std::string path, bool writable)
        : Owner(owner), Path(std::move(path)), Writable(writable) {}

    RegValueType TypeOf(const std::string& name) const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = NodeOf();
        TMemoryRegistry::Value* v = node ? TMemoryRegistry::FindValue(node, name) : nullptr;
        return v ? v->Type : RegValueType::Missing;
    }
    bool ReadString(const std::string& name, std::string& value) const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = NodeOf();
        TMemoryRegistry::Value* v = node ? TMemoryRegistry::FindValue(node, name) : nullptr;
        if (!v || v->Type != RegValueType::String)
            return false;
        value = v->Text;
        return true;
    }
    bool ReadDword(const std::string& name, uint32_t& value) const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = NodeOf();
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
        TMemoryRegistry::Node* node = NodeOf();
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
    std::vector<std::string> ValueNames() const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        std::vector<std::string> names;
        if (TMemoryRegistry::Node* node = NodeOf())
            for (const auto& p : node->Values)
                names.push_back(p.first);
        return names;
    }
    std::vector<std::string> SubkeyNames() const override { return Owner.SubkeyNamesOf(Path); }
    bool LastWriteTime(uint64_t& fileTime) const override {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = NodeOf();
        if (!node)
            return false;
        fileTime = node->LastWrite;
        return true;
    }

private:
    // The key's node, nullptr when it is gone; called under Owner.Lock. Only
    // DeleteKey destroys nodes, so a node found stays this key's until the
    // next deletion.
    TMemoryRegistry::Node* NodeOf() const {
        if (!Cached || CachedAt != Owner.Deletions) {
            Cached = Owner.Find(Path);
            CachedAt = Owner.Deletions;
        }
        return Cached;
    }

    bool Write(const std::string& name, const TMemoryRegistry::Value& v) {
        std::lock_guard<std::recursive_mutex> guard(Owner.Lock);
        TMemoryRegistry::Node* node = NodeOf();
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
    mutable TMemoryRegistry::Node* Cached = nullptr;
    mutable uint64_t CachedAt = 0;
};

size_t TMemoryRegistry::FindSubkey(const Node* node, std::string_view name, bool& found) {
    const std::unique_ptr<Node>* subkeys = node->Subkeys.data();
    size_t low = 0;
    size_t high = node->Subkeys.size();
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        const int order = CompareNoCase(subkeys[mid]->Name, name);
        if (order == 0) {
            found = true;
            return mid;
        }
        if (order < 0)
            low = mid + 1;
        else
            high = mid;
    }
    found = false;
    return low;
}

TMemoryRegistry::Node* TMemoryRegistry::Find(const std::string& path) const {
    const Node* node = &Root;
    size_t pos = 0;
    for (std::string_view part = NextPart(path, pos); !part.empty(); part = NextPart(path, pos)) {
        bool found = false;
        const size_t index = FindSubkey(node, part, found);
        if (!found)
            return nullptr;
        node = node->Subkeys[index].get();
    }
    return const_cast<Node*>(node);
}

TMemoryRegistry::Node* TMemoryRegistry::FindOrCreate(const std::string& path) {
    Node* node = &Root;
    size_t pos = 0;
    for (std::string_view part = NextPart(path, pos); !part.empty(); part = NextPart(path, pos)) {
        bool found = false;
        const size_t index = FindSubkey(node, part, found);
        if (!found) {
            auto child = std::make_unique<Node>();
            child->Name = std::string(part);
            Touch(node);
            Touch(child.get());
            node->Subkeys.insert(node->Subkeys.begin() + static_cast<std::ptrdiff_t>(index),
                                 std::move(child));
        }
        node = node->Subkeys[index].get();
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
    bool found = false;
    for (const std::string& part : parts) {
        const size_t index = FindSubkey(parent, part, found);
        if (!found)
            return false;
        parent = parent->Subkeys[index].get();
    }
    const size_t index = FindSubkey(parent, leaf, found);
    if (!found)
        return false;
    parent->Subkeys.erase(parent->Subkeys.begin() + static_cast<std::ptrdiff_t>(index));
    ++Deletions;
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
        for (const auto& subkey : node->Subkeys)
            names.push_back(subkey->Name);
    return names;
}

size_t TMemoryRegistry::KeyCount() const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    size_t count = 0;
    std::vector<const Node*> todo{&Root};
    while (!todo.empty()) {
        const Node* n = todo.back();
        todo.pop_back();
        for (const auto& subkey : n->Subkeys) {
            ++count;
            todo.push_back(subkey.get());
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

