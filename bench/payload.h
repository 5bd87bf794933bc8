#pragma once
// What the upload benchmarks share: the firmware image they send and the
// best time the boot loader's poll allows.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qvx::bench {

// The 80-byte header and a payload of the given size, in which no byte
// pattern repeats.
inline std::string FirmwareImage(size_t payloadSize) {
    std::string image(80 + payloadSize, '\0');
    uint32_t x = 2024;
    for (char& c : image) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return image;
}

// The best whole upload the poll allows over its wire time: the first tick
// after 100 ms, the two ticks of the hand-shake before the first page (the
// answer to "<", then the one to the header), whole 10 ms ticks from the one
// that sends a page to the one that sees its answer, and the tick that sees
// the answer to the closing frame.
inline double UploadPollFloor(double wireSeconds, double pages) {
    if (wireSeconds <= 0 || pages <= 0)
        return 0;
    const double perPage = wireSeconds / pages;
    return (0.100 + 3 * 0.010 + pages * std::ceil(perPage / 0.010) * 0.010) / wireSeconds;
}

} // namespace qvx::bench
