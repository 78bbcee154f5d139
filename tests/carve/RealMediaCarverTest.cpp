// RealMedia carving: chunks and data packets.
#include <gtest/gtest.h>

#include "VideoCarve.h"
#include "carve/RealMediaCarver.h"

namespace kestrum::carve {
namespace {

using namespace videotest;

const CarverEntry& rm() {
    return realMediaCarver();
}

TEST(RealMediaCarver, EncoderFileIsMeasuredByItsPackets) {
    // ffmpeg's data chunk size overstates the packets; they and its 8-byte zero
    // end header make the file.
    expectWholeInEverySurrounding(rm(), media("clip.rm"), "RM", "clip.rm");
}

TEST(RealMediaCarver, RealSampleWithoutItsDataIsPartial) {
    const Bytes s = test::sample("exiftool-Real.rm");
    if (s.empty()) GTEST_SKIP() << "no sample folder";
    // The sample keeps the header chunks and metadata of a file whose data was cut out.
    const auto c = carveBytes(rm(), concat(s, Bytes(1024, 0)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "RM");
    EXPECT_EQ(c->length, s.size());
    EXPECT_TRUE(c->partial);
}

TEST(RealMediaCarver, CutAndBrokenFiles) {
    // clip.rm: header chunks to 202, DATA header to 220, ten packets to 4388.
    const Bytes file = media("clip.rm");
    auto c = carveBytes(rm(), file, 3000);  // the limit inside the sixth packet
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 2910u);
    EXPECT_TRUE(c->partial);

    Bytes broken = file;  // the fourth packet's length overwritten
    broken[2653] = 0;
    broken[2654] = 3;
    c = carveBytes(rm(), broken);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 2651u);
    EXPECT_TRUE(c->partial);

    Bytes huge = file;  // a header chunk size far past the end
    huge[72] = 0x7F;
    c = carveBytes(rm(), huge);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, file.size());
    EXPECT_TRUE(c->partial);
}

TEST(RealMediaCarver, LookAlikesAreRejected) {
    const Bytes file = media("clip.rm");
    auto rejected = [](const Bytes& b) { return !carveBytes(rm(), b).has_value(); };
    Bytes version = file;
    version[9] = 2;
    EXPECT_TRUE(rejected(version));
    EXPECT_TRUE(rejected(concat(Bytes(file.begin(), file.begin() + 18), randomBytes(2048))));
    EXPECT_TRUE(rejected(concat(Bytes(file.begin(), file.begin() + 18), Bytes(512, 0))));
    Bytes small = file;
    small[7] = 10;  // a file header too short for its fields
    EXPECT_TRUE(rejected(small));
    EXPECT_FALSE(rm().quick(small.data()));
}

}  // namespace
}  // namespace kestrum::carve
