// Minolta MRW: header blocks, then the raw image sized by the PRD block.
#include <gtest/gtest.h>

#include "RawCarverTestSupport.h"
#include "carve/MrwCarver.h"

namespace kestrum::carve {
namespace {

using rawtest::concat;

std::optional<Carved> carveMrw(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::run(mrwCarver(), bytes, limit);
}

TEST(MrwCarver, RawImageSizeFromTheBlocks) {
    const auto mrw = test::sample("exiftool-Minolta.mrw");
    if (mrw.empty()) GTEST_SKIP() << "no samples at " KESTRUM_SAMPLES_DIR;
    // Its image data was removed: the file is cut short of its image.
    auto c = carveMrw(mrw);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "MRW");
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, mrw.size());

    // Data at 8 + 2572; sensor 3272 x 2456, 12 bits packed ("Y") or 16 bits padded ("R").
    constexpr uint64_t kPacked = 2580 + 3272ull * 2456 * 12 / 8;
    constexpr uint64_t kPadded = 2580 + 3272ull * 2456 * 2;
    auto room = concat(mrw, std::vector<uint8_t>(kPadded + 1000 - mrw.size(), 0));
    c = carveMrw(room);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, kPacked);
    EXPECT_FALSE(c->partial);
    room[16 + 18] = 0x52;
    c = carveMrw(room);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, kPadded);

    const std::pair<size_t, uint8_t> breaks[] = {
        {7, 0x0D},      // header length no longer the blocks' sum
        {41, 'x'},      // a block name
        {16 + 18, 1},   // storage method
        {16 + 8, 0},    // sensor height 0 (with the low byte below)
        {16 + 16, 40},  // bits per pixel
    };
    for (const auto& [at, value] : breaks) {
        SCOPED_TRACE(at);
        auto f = mrw;
        f[at] = value;
        if (at == 16 + 8) f[at + 1] = 0;
        EXPECT_FALSE(carveMrw(f));
    }
}

}  // namespace
}  // namespace kestrum::carve
