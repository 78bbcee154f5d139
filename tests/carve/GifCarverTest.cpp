// GIF carving: blocks and sub-block chains to the trailer, damage.
#include <gtest/gtest.h>

#include "ImageCarveSupport.h"
#include "carve/GifCarver.h"

namespace kestrum::carve {
namespace {

using test::carveBytes;
using test::dataFile;
using test::randomBytes;

TEST(GifCarver, EncoderFilesAndDamage) {
    for (const char* name : {"picture.gif", "carve/gif-animated.gif", "carve/gif-87a.gif"})
        test::expectWhole(gifCarver(), dataFile(name), "GIF", name);

    const auto file = dataFile("carve/gif-animated.gif");
    auto c = carveBytes(gifCarver(), file, 1500);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 1500u);

    // The second frame's control extension overwritten: the walk stops there.
    const uint8_t gce[] = {0x21, 0xF9, 0x04};
    const auto first = std::search(file.begin(), file.end(), gce, gce + 3);
    const auto second = std::search(first + 1, file.end(), gce, gce + 3);
    ASSERT_NE(second, file.end());
    auto over = file;
    const size_t at = static_cast<size_t>(second - file.begin());
    std::fill(over.begin() + at, over.begin() + at + 40, 0);
    c = carveBytes(gifCarver(), over);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, at);

    // Sub-blocks of 255 bytes without end: bounded, cut by the limit.
    std::vector<uint8_t> endless(file.begin(), file.begin() + at);
    endless.insert(endless.end(), {0x2C, 0, 0, 0, 0, 8, 0, 8, 0, 0, 8});
    endless.resize(3 << 20, 0xFF);
    c = carveBytes(gifCarver(), endless);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, endless.size());
}

TEST(GifCarver, LookAlikesAreRejected) {
    const auto file = dataFile("picture.gif");
    for (unsigned seed = 0; seed < 50; ++seed) {
        auto b = randomBytes(2048, seed);
        std::copy(file.begin(), file.begin() + 6, b.begin());
        EXPECT_FALSE(carveBytes(gifCarver(), b).has_value());
    }
    std::vector<uint8_t> empty(file.begin(), file.begin() + 13);  // screen, then the trailer
    empty[10] = 0;
    empty.push_back(0x3B);
    empty.resize(512);
    EXPECT_FALSE(carveBytes(gifCarver(), empty).has_value());
}

}  // namespace
}  // namespace kestrum::carve
