// Minolta MRW: header blocks, then the raw image sized by the PRD block.
#include <gtest/gtest.h>

#include "RawCarverTestSupport.h"
#include "carve/MrwCarver.h"

namespace kestrum::carve {
namespace {

using rawtest::concat;
using rawtest::expect;

std::string carveMrw(const std::vector<uint8_t>& bytes) {
    return rawtest::describe(rawtest::run(mrwCarver(), bytes));
}

TEST(MrwCarver, RawImageSizeFromTheBlocks) {
    const auto mrw = test::sample("exiftool-Minolta.mrw");
    if (mrw.empty()) GTEST_SKIP() << "no samples at " KESTRUM_SAMPLES_DIR;
    // Its image data was removed: the file is cut short of its image.
    EXPECT_EQ(carveMrw(mrw), expect("MRW", mrw.size(), true));

    // Data at 8 + 2572; sensor 3272 x 2456, 12 bits packed ("Y") or 16 bits padded ("R").
    constexpr uint64_t kPacked = 2580 + 3272ull * 2456 * 12 / 8;
    constexpr uint64_t kPadded = 2580 + 3272ull * 2456 * 2;
    auto room = concat(mrw, std::vector<uint8_t>(kPadded + 1000 - mrw.size()));
    EXPECT_EQ(carveMrw(room), expect("MRW", kPacked));
    room[16 + 18] = 0x52;
    EXPECT_EQ(carveMrw(room), expect("MRW", kPadded));

    // Header length not the blocks' sum, a block name, the storage method, sensor
    // height 0, bits per pixel.
    for (const auto& [at, value] :
         {std::pair{7, 0x0D}, {41, 'x'}, {16 + 18, 1}, {16 + 9, 0}, {16 + 16, 40}}) {
        auto f = mrw;
        f[at] = static_cast<uint8_t>(value);
        if (at == 16 + 9) f[16 + 8] = 0;
        EXPECT_EQ(carveMrw(f), "none") << at;
    }
}

}  // namespace
}  // namespace kestrum::carve
