// BMP carving: the size field checked against the pixel array.
#include <gtest/gtest.h>

#include "ImageCarveSupport.h"
#include "carve/BmpCarver.h"

namespace kestrum::carve {
namespace {

using test::carveBytes;
using test::dataFile;
using test::randomBytes;

void setLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> 8 * i);
}

TEST(BmpCarver, EncoderFilesAndSizeFields) {
    for (const char* name :
         {"picture.bmp", "carve/bmp-v5-alpha.bmp", "carve/bmp-os2.bmp", "carve/bmp-rle8.bmp"})
        test::expectWhole(bmpCarver(), dataFile(name), "BMP", name);

    // A zero or absurd size field: the pixel array decides.
    const auto file = dataFile("picture.bmp");
    for (uint32_t size : {0u, 0x7FFFFFFFu, 1100u}) {
        auto b = file;
        setLe32(b, 2, size);
        test::expectWhole(bmpCarver(), b, "BMP", "size field " + std::to_string(size));
    }
    auto c = carveBytes(bmpCarver(), file, 2000);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 2000u);
}

TEST(BmpCarver, LookAlikesAreRejected) {
    const auto file = dataFile("picture.bmp");
    auto planes = file;
    planes[26] = 2;
    EXPECT_FALSE(carveBytes(bmpCarver(), planes).has_value());
    auto bits = file;
    bits[28] = 7;
    EXPECT_FALSE(carveBytes(bmpCarver(), bits).has_value());
    auto header = file;
    header[14] = 41;
    EXPECT_FALSE(bmpCarver().quick(header.data()));
    EXPECT_FALSE(carveBytes(bmpCarver(), header).has_value());
    auto offset = file;  // pixels before the end of the headers
    setLe32(offset, 10, 20);
    EXPECT_FALSE(carveBytes(bmpCarver(), offset).has_value());
    for (unsigned seed = 0; seed < 50; ++seed) {
        auto b = randomBytes(1024, seed);
        b[0] = 'B', b[1] = 'M';
        setLe32(b, 14, 40);
        EXPECT_FALSE(carveBytes(bmpCarver(), b).has_value());
    }
}

}  // namespace
}  // namespace kestrum::carve
