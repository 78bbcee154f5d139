// Paint Shop Pro carving: main blocks to where they stop.
#include <gtest/gtest.h>

#include "ImageCarveSupport.h"
#include "carve/PspCarver.h"

namespace kestrum::carve {
namespace {

TEST(PspCarver, DamageAndHeaderChecks) {
    const auto file = kestrum::test::sample("exiftool-PSP.psp");
    if (file.empty()) GTEST_SKIP() << "no shared samples folder";
    // Blocks: 0 at 36, 10 at 92, 1 at 287, 16 at 445, 3 at 1134.
    auto id = file;  // the creator block's id becomes nonsense
    id[287 + 4] = 0xEE;
    test::expectPartial(pspCarver(), id, UINT64_MAX, 287, "block id");
    auto huge = file;  // a block length past everything
    huge[445 + 9] = 0x7F;
    test::expectPartial(pspCarver(), huge, UINT64_MAX, file.size(), "block length");

    auto first = file;  // the image attributes must come first
    first[36 + 4] = 1;
    EXPECT_FALSE(test::carveBytes(pspCarver(), first).has_value());
    auto version = file;
    version[32] = 1;
    EXPECT_FALSE(test::carveBytes(pspCarver(), version).has_value());
}

}  // namespace
}  // namespace kestrum::carve
