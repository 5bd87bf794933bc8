// The library image check over arbitrary bytes: it must never read outside
// them (they are copied into a buffer of exactly their size), and its answer
// must be the one that the documented rules give, worked out here again field
// by field with reads that refuse to leave the bytes.
#include "j2534/library_image.h"
#include "tests/fuzz/fuzz_link.h"

#include <cstring>
#include <memory>
#include <string>

namespace {

// A little-endian field of width bytes at offset at; false when any of its
// bytes lies outside the image.
bool Field(const std::string& image, uint64_t at, unsigned width, uint64_t& value) {
    if (at > image.size() || width > image.size() - at)
        return false;
    value = 0;
    for (unsigned i = width; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(image[at + i]);
    return true;
}

qvx::TLibraryImageCheck Expected(const std::string& image) {
    using namespace qvx;
    if (image.empty())
        return liEmpty;
    uint64_t pe = 0;
    if (image.size() < 64 || image.compare(0, 2, "MZ") != 0 || !Field(image, 0x3C, 4, pe))
        return liNoDosHeader;
    uint64_t signature = 0, ignored = 0;
    if (!Field(image, pe, 4, signature) || signature != 0x4550 ||
        !Field(image, pe + 4, 20, ignored))
        return liNoPeHeader;
    uint64_t machine = 0, sections = 0, optionalSize = 0, flags = 0;
    Field(image, pe + 4, 2, machine);
    Field(image, pe + 6, 2, sections);
    Field(image, pe + 20, 2, optionalSize);
    Field(image, pe + 22, 2, flags);
    if (machine != 0x14C)
        return liNotX86;
    if ((flags & 0x2002) != 0x2002)
        return liNotLibrary;
    uint64_t magic = 0;
    const uint64_t optional = pe + 24;
    if (optionalSize < 96 || !Field(image, optional, optionalSize, ignored) ||
        !Field(image, optional, 2, magic) || magic != 0x10B)
        return liNotPe32;
    if (sections == 0)
        return liBadSections;
    for (uint64_t i = 0; i < sections; ++i) {
        const uint64_t header = optional + optionalSize + 40 * i;
        uint64_t rawSize = 0, rawPointer = 0;
        if (!Field(image, header, 40, ignored))
            return liBadSections;
        Field(image, header + 16, 4, rawSize);
        Field(image, header + 20, 4, rawPointer);
        if (rawSize != 0 && !Field(image, rawPointer, 0, ignored))
            return liBadSections;
        if (rawSize != 0 && rawSize > image.size() - rawPointer)
            return liBadSections;
    }
    return liLibrary;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    std::unique_ptr<char[]> image(new char[size ? size : 1]);
    if (size)
        std::memcpy(image.get(), data, size);
    const TLibraryImageCheck result = CheckLibraryImage(image.get(), size);
    FUZZ_CHECK(LibraryImageCheckText(result) != nullptr);
    FUZZ_CHECK(result == Expected(std::string(image.get(), size)));
    return 0;
}
