#pragma once
// A small PNG writer for the window screenshots: 8-bit RGB, no filtering, the
// image data in stored (uncompressed) deflate blocks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvx::png {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// rgb: height rows of width pixels, 3 bytes each (red, green, blue).
std::vector<uint8_t> Encode(int width, int height, const std::vector<uint8_t>& rgb);
bool Write(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

} // namespace qvx::png
