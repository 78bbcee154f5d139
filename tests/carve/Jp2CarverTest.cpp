// JPEG 2000 carving: codestreams of unknown length walked by their tile-parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ImageCarveSupport.h"
#include "carve/Jp2Carver.h"

namespace kestrum::carve {
namespace {

constexpr size_t kCodestreamBox = 77;  // in picture.jp2: jP, ftyp, jp2h, then jp2c
constexpr size_t kTilePart = 125;      // in jp2-codestream.j2k: after SIZ, COD, QCD, COM

TEST(Jp2Carver, CodestreamWalkAndDamage) {
    // A codestream box that runs "to the end" is measured by its tile-parts.
    const auto file = test::dataFile("picture.jp2");
    ASSERT_EQ(std::string(file.begin() + kCodestreamBox + 4, file.begin() + kCodestreamBox + 8),
              "jp2c");
    auto open = file;
    std::fill(open.begin() + kCodestreamBox, open.begin() + kCodestreamBox + 4, 0);
    test::expectWhole(jp2Carver(), open, "JP2", "box length 0");
    // A last tile-part of length 0 runs to the end-of-codestream marker.
    auto bare = test::dataFile("carve/jp2-codestream.j2k");
    ASSERT_EQ(bare[kTilePart + 1], 0x90);
    std::fill(bare.begin() + kTilePart + 6, bare.begin() + kTilePart + 10, 0);
    test::expectWhole(jp2Carver(), bare, "JP2", "tile-part length 0");

    auto lost = file;  // the codestream's start overwritten
    std::fill(lost.begin() + kCodestreamBox + 8, lost.begin() + kCodestreamBox + 12, 0);
    test::expectPartial(jp2Carver(), lost, UINT64_MAX, kCodestreamBox, "codestream lost");
    auto brand = file;
    brand[20] = 'x';
    EXPECT_FALSE(test::carveBytes(jp2Carver(), brand).has_value());
}

}  // namespace
}  // namespace kestrum::carve
