// PNG carving: chunk walk to the end chunk, the checked header, damage.
#include <gtest/gtest.h>

#include <cstring>

#include "ImageCarveSupport.h"
#include "carve/PngCarver.h"

namespace kestrum::carve {
namespace {

using test::carveBytes;
using test::dataFile;
using test::randomBytes;

TEST(PngCarver, EncoderFilesAndDamage) {
    for (const char* name : {"picture.png", "carve/png-interlaced16.png", "carve/png-palette.png",
                             "carve/png-animated.png"})
        test::expectWhole(pngCarver(), dataFile(name), "PNG", name);

    const auto file = dataFile("picture.png");
    auto c = carveBytes(pngCarver(), file, 3000);  // cut inside the image data
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 3000u);

    // The chunk after the header overwritten: its type is no longer letters.
    auto over = file;
    std::memset(over.data() + 33, 0, 64);
    c = carveBytes(pngCarver(), over);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 33u);

    auto huge = file;  // a length no chunk may have
    huge[33] = 0xFF;
    c = carveBytes(pngCarver(), huge);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->length, 33u);

    // Apple's CgBI chunk before the header.
    std::vector<uint8_t> cgbi(file.begin(), file.begin() + 8);
    const uint8_t chunk[16] = {0,    0, 0,    4, 'C',  'g',  'B',  'I',
                               0x50, 0, 0x20, 2, 0x2B, 0xD5, 0xB3, 0x7F};
    cgbi.insert(cgbi.end(), chunk, chunk + 16);
    cgbi.insert(cgbi.end(), file.begin() + 8, file.end());
    test::expectWhole(pngCarver(), cgbi, "PNG", "CgBI");
}

TEST(PngCarver, LookAlikesAreRejected) {
    auto file = dataFile("picture.png");
    auto crc = file;  // the header's checksum no longer matches
    crc[29] ^= 1;
    EXPECT_FALSE(carveBytes(pngCarver(), crc).has_value());
    auto depth = file;  // bit depth 3 (checksum fixed up would not help)
    depth[24] = 3;
    EXPECT_FALSE(carveBytes(pngCarver(), depth).has_value());
    for (unsigned seed = 0; seed < 50; ++seed) {
        auto b = randomBytes(2048, seed);
        std::copy(file.begin(), file.begin() + 16, b.begin());  // signature and "IHDR"
        EXPECT_FALSE(carveBytes(pngCarver(), b).has_value());
    }
}

}  // namespace
}  // namespace kestrum::carve
