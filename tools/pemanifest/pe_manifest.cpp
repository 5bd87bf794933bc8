#include "tools/pemanifest/pe_manifest.h"

#include <cstddef>

namespace qvx {

namespace {

constexpr uint32_t ResourceDirectory = 2; // index in the optional header's directories
constexpr uint32_t RtManifest = 24;
constexpr uint32_t ManifestId = 1; // the manifest of a program's process

class TImage {
public:
    explicit TImage(const std::vector<uint8_t>& bytes) : Bytes(bytes) {}

    bool Has(uint64_t offset, uint64_t size) const {
        return offset <= Bytes.size() && size <= Bytes.size() - offset;
    }
    uint32_t U16(uint64_t offset) const {
        return Bytes[offset] | static_cast<uint32_t>(Bytes[offset + 1]) << 8;
    }
    uint32_t U32(uint64_t offset) const { return U16(offset) | U16(offset + 2) << 16; }

    // The file offset of size bytes at rva; false when no section holds them.
    bool Map(uint64_t rva, uint64_t size, uint64_t& offset) const {
        for (uint32_t i = 0; i < SectionCount; ++i) {
            const uint64_t s = Sections + 40ull * i;
            const uint64_t virtualSize = U32(s + 8), address = U32(s + 12);
            const uint64_t rawSize = U32(s + 16), raw = U32(s + 20);
            const uint64_t span = virtualSize > rawSize ? virtualSize : rawSize;
            if (rva < address || rva - address >= span)
                continue;
            const uint64_t inside = rva - address;
            if (inside + size > rawSize || !Has(raw + inside, size))
                return false;
            offset = raw + inside;
            return true;
        }
        return false;
    }

    const std::vector<uint8_t>& Bytes;
    uint64_t Sections = 0;
    uint32_t SectionCount = 0;
};

// The entry with the given id (or the first, for id 0) of the resource
// directory at rva; its raw OffsetToData.
bool FindEntry(const TImage& image, uint64_t rva, uint32_t id, uint32_t& target) {
    uint64_t at = 0;
    if (!image.Map(rva, 16, at))
        return false;
    const uint32_t count = image.U16(at + 12) + image.U16(at + 14);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t entry = 0;
        if (!image.Map(rva + 16 + 8ull * i, 8, entry))
            return false;
        const uint32_t name = image.U32(entry);
        if (id == 0 || (!(name & 0x80000000u) && (name & 0xFFFF) == id)) {
            target = image.U32(entry + 4);
            return true;
        }
    }
    return false;
}

} // namespace

bool ReadPeManifest(const std::vector<uint8_t>& bytes, std::string& manifest, std::string& why) {
    TImage image(bytes);
    if (!image.Has(0, 0x40) || image.U16(0) != 0x5A4D) {
        why = "no MZ header";
        return false;
    }
    const uint64_t pe = image.U32(0x3C);
    if (!image.Has(pe, 24) || image.U32(pe) != 0x00004550) {
        why = "no PE signature";
        return false;
    }
    image.SectionCount = image.U16(pe + 6);
    const uint64_t optional = pe + 24, optionalSize = image.U16(pe + 20);
    image.Sections = optional + optionalSize;
    if (!image.Has(optional, optionalSize) ||
        !image.Has(image.Sections, 40ull * image.SectionCount)) {
        why = "headers cut short";
        return false;
    }
    const uint32_t magic = optionalSize >= 2 ? image.U16(optional) : 0;
    const uint64_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
    if (directories == 0 || optionalSize < directories ||
        image.U32(optional + directories - 4) <= ResourceDirectory ||
        optionalSize < directories + 8ull * (ResourceDirectory + 1)) {
        why = "no resource directory";
        return false;
    }
    const uint64_t resources = image.U32(optional + directories + 8ull * ResourceDirectory);
    if (resources == 0) {
        why = "no resources";
        return false;
    }
    // Type, then name, then language; the first two lead to subdirectories,
    // the last to the data entry.
    const uint32_t ids[3] = {RtManifest, ManifestId, 0};
    uint64_t rva = resources;
    for (int level = 0; level < 3; ++level) {
        uint32_t target = 0;
        if (!FindEntry(image, rva, ids[level], target) ||
            ((target & 0x80000000u) != 0) != (level < 2)) {
            why = "no manifest resource";
            return false;
        }
        rva = resources + (target & 0x7FFFFFFFu);
    }
    uint64_t entry = 0, data = 0;
    if (!image.Map(rva, 16, entry) || !image.Map(image.U32(entry), image.U32(entry + 4), data)) {
        why = "manifest resource outside the file";
        return false;
    }
    manifest.assign(bytes.begin() + static_cast<std::ptrdiff_t>(data),
                    bytes.begin() + static_cast<std::ptrdiff_t>(data + image.U32(entry + 4)));
    return true;
}

} // namespace qvx
