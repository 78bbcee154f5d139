// Paint Shop Pro carving: main blocks to where they stop.
#include <gtest/gtest.h>

#include "ImageCarveSupport.h"
#include "carve/PspCarver.h"

namespace kestrum::carve {
namespace {

using test::carveBytes;

TEST(PspCarver, SampleAndDamage) {
    const auto file = kestrum::test::sample("exiftool-PSP.psp");
    if (file.empty()) GTEST_SKIP() << "no shared samples folder";
    test::expectWhole(pspCarver(), file, "PSP", "sample");
    // Blocks: 0 at 36, 10 at 92, 1 at 287, 16 at 445, 3 at 1134.
    auto c = carveBytes(pspCarver(), file, 1000);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 1000u);
    auto id = file;  // the creator block's id becomes nonsense
    id[287 + 4] = 0xEE;
    c = carveBytes(pspCarver(), id);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 287u);
    auto huge = file;  // a block length past everything
    huge[445 + 9] = 0x7F;
    c = carveBytes(pspCarver(), huge);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);

    auto first = file;  // the image attributes must come first
    first[36 + 4] = 1;
    EXPECT_FALSE(carveBytes(pspCarver(), first).has_value());
    auto version = file;
    version[32] = 1;
    EXPECT_FALSE(carveBytes(pspCarver(), version).has_value());
    auto noBlock = file;
    noBlock[36] = 'x';
    EXPECT_FALSE(carveBytes(pspCarver(), noBlock).has_value());
}

}  // namespace
}  // namespace kestrum::carve
