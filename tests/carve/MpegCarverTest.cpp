// MPEG program stream and video elementary stream carving.
#include <gtest/gtest.h>

#include "VideoCarve.h"
#include "carve/MpegCarver.h"

namespace kestrum::carve {
namespace {

using namespace videotest;

const CarverEntry& mpeg() {
    return mpegCarver();
}

Bytes withoutLast(Bytes b, size_t n) {
    b.resize(b.size() - n);
    return b;
}

TEST(MpegCarver, ProgramStreamsAreMeasuredByTheirPacks) {
    expectWholeInEverySurrounding(mpeg(), media("clip-mpeg1.mpg"), "MPEG", "MPEG-1 with end code");
    // A VOB muxed without DVD navigation packs is a plain MPEG-2 program stream.
    expectWholeInEverySurrounding(mpeg(), media("clip.vob"), "MPEG", "MPEG-2 with end code");
    expectWholeInEverySurrounding(mpeg(), media("carve/clip-dvd.vob"), "VOB", "DVD, no end code");
    // Without the end code the next stream's clock, which starts again, separates them.
    expectWholeInEverySurrounding(mpeg(), withoutLast(media("clip-mpeg1.mpg"), 4), "MPEG",
                                  "MPEG-1 without end code");
}

TEST(MpegCarver, VideoElementaryStreamsAreMeasuredByTheirStartCodes) {
    const Bytes m1v = media("clip-mpeg1.m1v");
    expectWholeInEverySurrounding(mpeg(), m1v, "MPEG", "with sequence end code");
    // As the encoder wrote it, without the end code: the stream stops where zero
    // bytes run on without a start code. Two such streams back to back read as one.
    const Bytes bare = withoutLast(m1v, 4);
    auto c = carveBytes(mpeg(), concat(concat(bare, Bytes(600, 0)), randomBytes(4096)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, bare.size());
    EXPECT_FALSE(c->partial);
    // Cut by the limit inside a picture.
    c = carveBytes(mpeg(), bare, 5000);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 5000u);
    EXPECT_TRUE(c->partial);
    // A start code no video stream holds (a system code) ends it there.
    Bytes sys = concat(bare, Bytes{0, 0, 1, 0xBB, 0x55, 0x66});
    c = carveBytes(mpeg(), concat(sys, randomBytes(100)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, bare.size());
}

TEST(MpegCarver, CutStreamsArePartialAtTheLimit) {
    const Bytes vob = media("carve/clip-dvd.vob");
    const auto c = carveBytes(mpeg(), vob, 5000);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "VOB");
    EXPECT_EQ(c->length, 5000u);
    EXPECT_TRUE(c->partial);

    Bytes broken = vob;  // the third pack overwritten: the stream ends after two
    std::fill(broken.begin() + 4096, broken.end(), 0xAA);
    const auto b = carveBytes(mpeg(), broken);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->length, 4096u);
}

TEST(MpegCarver, LookAlikesAreRejected) {
    auto rejected = [](const Bytes& b) { return !carveBytes(mpeg(), b).has_value(); };
    const Bytes mpg = media("clip-mpeg1.mpg");
    Bytes marker = mpg;  // an MPEG-1 pack marker bit cleared
    marker[6] &= 0xFE;
    EXPECT_TRUE(rejected(marker));
    // A pack header and nothing that is a packet.
    EXPECT_TRUE(rejected(concat(Bytes(mpg.begin(), mpg.begin() + 12), Bytes(500, 0))));
    EXPECT_TRUE(rejected(concat(Bytes{0, 0, 1, 0xBA}, randomBytes(4096))));

    const Bytes m1v = media("clip-mpeg1.m1v");
    Bytes aspect = m1v;  // aspect ratio code 0 is forbidden
    aspect[7] &= 0x0F;
    EXPECT_TRUE(rejected(aspect));
    Bytes height = m1v;
    height[5] &= 0xF0;
    height[6] = 0;
    EXPECT_TRUE(rejected(height));
    // A sequence header followed by no picture.
    EXPECT_TRUE(rejected(concat(Bytes(m1v.begin(), m1v.begin() + 12), randomBytes(8192))));
    EXPECT_TRUE(rejected(concat(Bytes(m1v.begin(), m1v.begin() + 12), Bytes(512, 0))));
}

}  // namespace
}  // namespace kestrum::carve
