#include "j2534/library_image.h"

#include <cstdint>

namespace qvx {

namespace {

constexpr size_t DosHeaderSize = 64;
constexpr size_t NewHeaderOffsetAt = 0x3C;
constexpr size_t FileHeaderSize = 20;
constexpr size_t Pe32OptionalHeaderMin = 96;
constexpr size_t SectionHeaderSize = 40;
constexpr uint16_t MachineI386 = 0x14C;
constexpr uint16_t ExecutableImageFlag = 0x0002;
constexpr uint16_t DllFlag = 0x2000;
constexpr uint16_t Pe32Magic = 0x10B;

// Little-endian fields; the caller has checked that they lie inside.
uint16_t Word(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Dword(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

const char* LibraryImageCheckText(TLibraryImageCheck result) {
    switch (result) {
    case liLibrary:
        return "library";
    case liEmpty:
        return "empty";
    case liNoDosHeader:
        return "no DOS header";
    case liNoPeHeader:
        return "no PE header";
    case liNotX86:
        return "not for x86";
    case liNotLibrary:
        return "not a library";
    case liNotPe32:
        return "not PE32";
    case liBadSections:
        break;
    }
    return "sections outside the image";
}

TLibraryImageCheck CheckLibraryImage(const char* bytes, size_t count) {
    const auto* image = reinterpret_cast<const unsigned char*>(bytes);
    // Offsets and sizes are added in 64 bits: none of the 32-bit fields can
    // overflow them.
    const uint64_t size = count;
    if (size == 0)
        return liEmpty;
    if (size < DosHeaderSize || image[0] != 'M' || image[1] != 'Z')
        return liNoDosHeader;

    const uint64_t pe = Dword(image + NewHeaderOffsetAt);
    if (pe + 4 + FileHeaderSize > size || image[pe] != 'P' || image[pe + 1] != 'E' ||
        image[pe + 2] != 0 || image[pe + 3] != 0)
        return liNoPeHeader;
    const unsigned char* fileHeader = image + pe + 4;
    if (Word(fileHeader) != MachineI386)
        return liNotX86;
    const uint16_t characteristics = Word(fileHeader + 18);
    if (!(characteristics & ExecutableImageFlag) || !(characteristics & DllFlag))
        return liNotLibrary;

    const uint64_t optional = pe + 4 + FileHeaderSize;
    const uint64_t optionalSize = Word(fileHeader + 16);
    if (optionalSize < Pe32OptionalHeaderMin || optional + optionalSize > size ||
        Word(image + optional) != Pe32Magic)
        return liNotPe32;

    const uint64_t sections = Word(fileHeader + 2);
    const uint64_t table = optional + optionalSize;
    if (sections == 0 || table + sections * SectionHeaderSize > size)
        return liBadSections;
    for (uint64_t i = 0; i < sections; ++i) {
        const unsigned char* section = image + table + i * SectionHeaderSize;
        const uint64_t rawSize = Dword(section + 16);
        const uint64_t rawPointer = Dword(section + 20);
        if (rawSize != 0 && rawPointer + rawSize > size)
            return liBadSections;
    }
    return liLibrary;
}

} // namespace qvx
