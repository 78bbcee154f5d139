// JPEG 2000 carving: boxes, codestreams of unknown box length, bare codestreams.
#include <gtest/gtest.h>

#include "ImageCarveSupport.h"
#include "carve/Jp2Carver.h"

namespace kestrum::carve {
namespace {

using test::carveBytes;
using test::dataFile;
using test::randomBytes;

constexpr size_t kCodestreamBox = 77;  // in picture.jp2: jP, ftyp, jp2h, then jp2c

TEST(Jp2Carver, EncoderFilesAndCodestreamWalk) {
    for (const char* name : {"picture.jp2", "carve/jp2-codestream.j2k"})
        test::expectWhole(jp2Carver(), dataFile(name), "JP2", name);

    // A codestream box that runs "to the end" is measured by its tile-parts.
    auto open = dataFile("picture.jp2");
    ASSERT_EQ(std::string(open.begin() + kCodestreamBox + 4, open.begin() + kCodestreamBox + 8),
              "jp2c");
    std::fill(open.begin() + kCodestreamBox, open.begin() + kCodestreamBox + 4, 0);
    test::expectWhole(jp2Carver(), open, "JP2", "box length 0");

    // A last tile-part of length 0 runs to the end-of-codestream marker.
    auto bare = dataFile("carve/jp2-codestream.j2k");
    const size_t sot = 125;  // after SIZ, COD, QCD, COM
    ASSERT_EQ(bare[sot + 1], 0x90);
    std::fill(bare.begin() + sot + 6, bare.begin() + sot + 10, 0);
    test::expectWhole(jp2Carver(), bare, "JP2", "tile-part length 0");
}

TEST(Jp2Carver, DamageGivesTheValidPrefix) {
    const auto file = dataFile("picture.jp2");
    auto c = carveBytes(jp2Carver(), file, 2000);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 2000u);
    auto lost = file;  // the codestream's start overwritten
    std::fill(lost.begin() + kCodestreamBox + 8, lost.begin() + kCodestreamBox + 12, 0);
    c = carveBytes(jp2Carver(), lost);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, kCodestreamBox);

    auto bare = dataFile("carve/jp2-codestream.j2k");
    bare[125 + 6] = 0x7F;  // a tile-part length past everything
    c = carveBytes(jp2Carver(), bare);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
}

TEST(Jp2Carver, LookAlikesAreRejected) {
    const auto file = dataFile("picture.jp2");
    auto brand = file;
    brand[20] = 'x';
    EXPECT_FALSE(carveBytes(jp2Carver(), brand).has_value());
    for (unsigned seed = 0; seed < 50; ++seed) {
        auto b = randomBytes(2048, seed);
        std::copy(file.begin(), file.begin() + 12, b.begin());
        EXPECT_FALSE(carveBytes(jp2Carver(), b).has_value());
        b[0] = 0xFF, b[1] = 0x4F, b[2] = 0xFF, b[3] = 0x51;
        EXPECT_FALSE(carveBytes(jp2Carver(), b).has_value());
    }
}

}  // namespace
}  // namespace kestrum::carve
