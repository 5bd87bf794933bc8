#include "platform/memory/static_version.h"

namespace qvx {

TStaticVersion::TStaticVersion(std::map<std::string, std::string> strings)
    : Strings(std::move(strings)) {}

TStaticVersion TStaticVersion::Product() {
    const std::string block = "StringFileInfo\\040904E4\\";
    return TStaticVersion({{block + "ProductName", "Quorvelix"},
                           {block + "InternalName", "Configurator"},
                           {block + "FileVersion", "2.3.1.8"},
                           {block + "LegalCopyright", "Copyright (C) Morveklink Ltd."},
                           {block + "Comments", "http://www.morveklink.example"},
                           {block + "Support", "orders@morveklink.example"}});
}

uint32_t TStaticVersion::Size() {
    if (Strings.empty())
        return 0;
    uint32_t size = 64;
    for (const auto& p : Strings)
        size += static_cast<uint32_t>(p.first.size() + p.second.size() + 8);
    return size;
}

bool TStaticVersion::Load() {
    Loaded = !Strings.empty();
    return Loaded;
}

bool TStaticVersion::Query(const std::string& subBlock, std::string& value) {
    if (!Loaded)
        return false;
    auto it = Strings.find(subBlock);
    if (it == Strings.end())
        return false;
    value = it->second;
    return true;
}

void TStaticVersion::Release() { Loaded = false; }

} // namespace qvx
