#pragma once
// The firmware image every upload benchmark sends: the 80-byte header and a
// payload of the given size, in which no byte pattern repeats.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qvx::bench {

inline std::string FirmwareImage(size_t payloadSize) {
    std::string image(80 + payloadSize, '\0');
    uint32_t x = 2024;
    for (char& c : image) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return image;
}

} // namespace qvx::bench
