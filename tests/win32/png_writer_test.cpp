// The screenshot writer's PNG encoding, checked against known sums and by
// reading the stored deflate blocks back.
#include "tests/win32/png_writer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qvx::png {
namespace {

uint32_t U32(const std::vector<uint8_t>& data, size_t at) {
    return uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 |
           data[at + 3];
}

const uint8_t* Bytes(const char* text) {
    return reinterpret_cast<const uint8_t*>(text);
}

// Reads the chunks of a PNG file, checking each CRC; returns the IDAT data.
std::vector<uint8_t> ImageData(const std::vector<uint8_t>& file, std::vector<std::string>& types) {
    std::vector<uint8_t> data;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        uint32_t length = U32(file, at);
        std::string type(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                         file.begin() + static_cast<std::ptrdiff_t>(at + 8));
        EXPECT_EQ(Crc32(&file[at + 4], length + 4), U32(file, at + 8 + length)) << type;
        if (type == "IDAT")
            data.insert(data.end(), file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                        file.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        types.push_back(type);
        at += 12 + length;
    }
    EXPECT_EQ(at, file.size());
    return data;
}

// Undoes a zlib stream of stored blocks.
std::vector<uint8_t> Unstore(const std::vector<uint8_t>& zlib) {
    std::vector<uint8_t> raw;
    EXPECT_EQ((zlib[0] << 8 | zlib[1]) % 31, 0); // header check bits
    size_t at = 2;
    bool last = false;
    while (!last && at + 5 <= zlib.size()) {
        last = zlib[at] & 1;
        EXPECT_EQ(zlib[at] & 6, 0); // stored
        size_t size = zlib[at + 1] | zlib[at + 2] << 8;
        size_t check = zlib[at + 3] | zlib[at + 4] << 8;
        EXPECT_EQ(size ^ check, 0xFFFFu);
        raw.insert(raw.end(), zlib.begin() + static_cast<std::ptrdiff_t>(at + 5),
                   zlib.begin() + static_cast<std::ptrdiff_t>(at + 5 + size));
        at += 5 + size;
    }
    EXPECT_TRUE(last);
    EXPECT_EQ(U32(zlib, at), Adler32(raw.data(), raw.size()));
    EXPECT_EQ(at + 4, zlib.size());
    return raw;
}

TEST(PngWriter, SumsMatchTheirReferenceValues) {
    EXPECT_EQ(Crc32(Bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(Bytes("IEND"), 4), 0xAE426082u);
    EXPECT_EQ(Adler32(Bytes("Wikipedia"), 9), 0x11E60398u);
    // Sums carry over between pieces.
    EXPECT_EQ(Crc32(Bytes("6789"), 4, Crc32(Bytes("12345"), 5)), 0xCBF43926u);
    EXPECT_EQ(Adler32(Bytes("pedia"), 5, Adler32(Bytes("Wiki"), 4)), 0x11E60398u);
}

TEST(PngWriter, SmallImageHasHeaderChunksAndRowsWithFilterBytes) {
    std::vector<uint8_t> rgb{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<uint8_t> file = Encode(2, 2, rgb);
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(std::memcmp(file.data(), "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ(U32(file, 16), 2u); // width
    EXPECT_EQ(U32(file, 20), 2u); // height
    EXPECT_EQ(file[24], 8);       // bits
    EXPECT_EQ(file[25], 2);       // RGB
    std::vector<std::string> types;
    std::vector<uint8_t> raw = Unstore(ImageData(file, types));
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(raw, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12}));
}

TEST(PngWriter, LargeImageSplitsIntoStoredBlocksThatReadBack) {
    const int width = 300, height = 200; // 180,200 bytes of scan lines: three blocks
    std::vector<uint8_t> rgb(static_cast<size_t>(width * height * 3));
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<uint8_t>(i * 7 + i / 901);
    std::vector<std::string> types;
    std::vector<uint8_t> raw = Unstore(ImageData(Encode(width, height, rgb), types));
    ASSERT_EQ(raw.size(), static_cast<size_t>((width * 3 + 1) * height));
    for (int y = 0; y < height; ++y) {
        size_t line = static_cast<size_t>(y * (width * 3 + 1));
        ASSERT_EQ(raw[line], 0);
        ASSERT_TRUE(std::equal(rgb.begin() + y * width * 3, rgb.begin() + (y + 1) * width * 3,
                               raw.begin() + static_cast<std::ptrdiff_t>(line + 1)));
    }
}

TEST(PngWriter, RefusesPixelsThatDoNotFitTheSize) {
    EXPECT_TRUE(Encode(2, 2, std::vector<uint8_t>(11)).empty());
    EXPECT_TRUE(Encode(0, 2, {}).empty());
}

} // namespace
} // namespace qvx::png
