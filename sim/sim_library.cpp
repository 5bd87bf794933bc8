#include "sim/sim_library.h"

#include <cstdint>

namespace qvx {

namespace {

constexpr uint32_t FileAlignment = 0x200;
constexpr uint32_t SectionAlignment = 0x1000;
constexpr uint32_t PeOffset = 0x40;
constexpr uint32_t OptionalHeaderSize = 0xE0; // 96 bytes + 16 data directories
constexpr uint32_t SectionTable = PeOffset + 4 + 20 + OptionalHeaderSize;
constexpr uint32_t HeadersSize = FileAlignment; // the table ends well before

uint32_t RoundUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void PutWord(Bytes& image, size_t at, uint16_t value) {
    image[at] = static_cast<char>(value & 0xFF);
    image[at + 1] = static_cast<char>(value >> 8);
}

void PutDword(Bytes& image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        image[at + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

Bytes SimDriverLibrary(const std::string& version, size_t size) {
    const Bytes data = Bytes("quorvelix pass-thru\0MkdV", 24) + version + Bytes(1, '\0');
    const uint32_t dataSize = static_cast<uint32_t>(data.size());
    const uint32_t rawSize = RoundUp(dataSize, FileAlignment);
    Bytes image(HeadersSize + rawSize, '\0');

    // DOS header: the signature and where the PE header is.
    image[0] = 'M';
    image[1] = 'Z';
    PutDword(image, 0x3C, PeOffset);

    image.replace(PeOffset, 4, Bytes("PE\0\0", 4));
    const size_t file = PeOffset + 4;
    PutWord(image, file + 0, 0x14C); // machine: i386
    PutWord(image, file + 2, 1);     // one section
    PutWord(image, file + 16, OptionalHeaderSize);
    PutWord(image, file + 18, 0x2000 | 0x0100 | 0x0002); // DLL, 32-bit, executable

    const size_t opt = file + 20;
    PutWord(image, opt + 0, 0x10B);              // PE32
    PutDword(image, opt + 8, rawSize);           // initialised data
    PutDword(image, opt + 20, SectionAlignment); // base of code
    PutDword(image, opt + 24, SectionAlignment); // base of data
    PutDword(image, opt + 28, 0x10000000);       // image base
    PutDword(image, opt + 32, SectionAlignment);
    PutDword(image, opt + 36, FileAlignment);
    PutWord(image, opt + 40, 4); // operating system 4.0
    PutWord(image, opt + 48, 4); // subsystem 4.0
    PutDword(image, opt + 56, SectionAlignment + RoundUp(dataSize, SectionAlignment));
    PutDword(image, opt + 60, HeadersSize);
    PutWord(image, opt + 68, 2);         // Windows GUI subsystem
    PutDword(image, opt + 72, 0x100000); // stack reserve
    PutDword(image, opt + 76, 0x1000);   // stack commit
    PutDword(image, opt + 80, 0x100000); // heap reserve
    PutDword(image, opt + 84, 0x1000);   // heap commit
    PutDword(image, opt + 92, 16);       // data directories, all empty

    const size_t section = SectionTable;
    image.replace(section, 6, ".rdata");
    PutDword(image, section + 8, dataSize);          // virtual size
    PutDword(image, section + 12, SectionAlignment); // virtual address
    PutDword(image, section + 16, rawSize);
    PutDword(image, section + 20, HeadersSize);
    PutDword(image, section + 36, 0x40000040); // initialised data, readable

    image.replace(HeadersSize, data.size(), data);
    if (image.size() < size)
        image.resize(size, '\0');
    return image;
}

} // namespace qvx
