// GIF carving: an overwritten block, endless sub-block chains.
#include <gtest/gtest.h>

#include <algorithm>

#include "ImageCarveSupport.h"
#include "carve/GifCarver.h"

namespace kestrum::carve {
namespace {

TEST(GifCarver, DamageGivesTheValidPrefix) {
    const auto file = test::dataFile("carve/gif-animated.gif");
    // The second frame's control extension overwritten: the walk stops there.
    const uint8_t gce[] = {0x21, 0xF9, 0x04};
    const auto second = std::search(std::search(file.begin(), file.end(), gce, gce + 3) + 1,
                                    file.end(), gce, gce + 3);
    ASSERT_NE(second, file.end());
    const size_t at = static_cast<size_t>(second - file.begin());
    auto over = file;
    std::fill(over.begin() + at, over.begin() + at + 40, 0);
    test::expectPartial(gifCarver(), over, UINT64_MAX, at, "overwritten frame");

    // Sub-blocks of 255 bytes without end: bounded, cut by the limit.
    std::vector<uint8_t> endless(file.begin(), file.begin() + at);
    endless.insert(endless.end(), {0x2C, 0, 0, 0, 0, 8, 0, 8, 0, 0, 8});
    endless.resize(3 << 20, 0xFF);
    test::expectPartial(gifCarver(), endless, UINT64_MAX, endless.size(), "endless");

    std::vector<uint8_t> empty(file.begin(), file.begin() + 13);  // screen, then the trailer
    empty[10] = 0;
    empty.push_back(0x3B);
    empty.resize(512);
    EXPECT_FALSE(test::carveBytes(gifCarver(), empty).has_value());
}

}  // namespace
}  // namespace kestrum::carve
