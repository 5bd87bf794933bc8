// The manifest reader that checks the built Windows programs, on a small
// program image made here: one resource section with one manifest.
#include "tools/pemanifest/pe_manifest.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A 32-bit program image whose resource section (RVA 0x1000, file offset
// 0x200) holds type typeId, name nameId, language 0x409: the text.
std::vector<uint8_t> Image(const std::string& text, uint32_t typeId = 24, uint32_t nameId = 1) {
    const size_t rsrc = 0x200, data = 0x58;
    std::vector<uint8_t> b(rsrc + data + text.size(), 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 0x40);
    Put32(b, 0x40, 0x00004550);
    Put16(b, 0x44, 0x14C);               // i386
    Put16(b, 0x46, 1);                   // one section
    Put16(b, 0x54, 0xE0);                // optional header size
    Put16(b, 0x58, 0x10B);               // PE32
    Put32(b, 0x58 + 92, 16);             // directories
    Put32(b, 0x58 + 96 + 16, 0x1000);    // resources: RVA
    Put32(b, 0x58 + 96 + 20, 0x58 + 16); // and size
    const size_t section = 0x58 + 0xE0;
    Put32(b, section + 8, static_cast<uint32_t>(data + text.size()));
    Put32(b, section + 12, 0x1000);
    Put32(b, section + 16, static_cast<uint32_t>(data + text.size()));
    Put32(b, section + 20, rsrc);
    Put16(b, rsrc + 0x0E, 1); // root: one id entry
    Put32(b, rsrc + 0x10, typeId);
    Put32(b, rsrc + 0x14, 0x80000000u | 0x18);
    Put16(b, rsrc + 0x18 + 0x0E, 1);
    Put32(b, rsrc + 0x28, nameId);
    Put32(b, rsrc + 0x2C, 0x80000000u | 0x30);
    Put16(b, rsrc + 0x30 + 0x0E, 1);
    Put32(b, rsrc + 0x40, 0x409);
    Put32(b, rsrc + 0x44, 0x48); // the data entry
    Put32(b, rsrc + 0x48, static_cast<uint32_t>(0x1000 + data));
    Put32(b, rsrc + 0x4C, static_cast<uint32_t>(text.size()));
    std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(rsrc + data));
    return b;
}

TEST(PeManifest, ReadsTheManifestResourceAndRefusesACutOrOtherImage) {
    const std::string text = "<assembly>asInvoker</assembly>";
    std::string manifest, why;
    ASSERT_TRUE(ReadPeManifest(Image(text), manifest, why)) << why;
    EXPECT_EQ(manifest, text);

    // Every cut of the file is refused without a read beyond its end.
    const std::vector<uint8_t> whole = Image(text);
    for (size_t size = 0; size < whole.size(); ++size) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(size));
        EXPECT_FALSE(ReadPeManifest(cut, manifest, why)) << size;
    }
    // Another resource type, or another id, is no manifest of the process.
    EXPECT_FALSE(ReadPeManifest(Image(text, 16), manifest, why));
    EXPECT_FALSE(ReadPeManifest(Image(text, 24, 2), manifest, why));
    EXPECT_EQ(why, "no manifest resource");
}

} // namespace
} // namespace qvx
