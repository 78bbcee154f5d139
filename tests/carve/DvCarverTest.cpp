// DV carving: whole frames counted while each opens like the first.
#include <gtest/gtest.h>

#include "VideoCarve.h"
#include "carve/DvCarver.h"

namespace kestrum::carve {
namespace {

using namespace videotest;

const CarverEntry& dv() {
    return dvCarver();
}

TEST(DvCarver, NtscFramesAreCounted) {
    const Bytes frame = media("frame-ntsc.dv");
    ASSERT_EQ(frame.size(), 120000u);
    // Frames of one recording follow each other without a boundary of their own.
    expectWholeInEverySurrounding(dv(), frame, "DV", "one frame", false);
    const Bytes three = concat(concat(frame, frame), frame);
    expectWholeInEverySurrounding(dv(), three, "DV", "three frames", false);

    auto c = carveBytes(dv(), three, 300000);  // the limit in the third frame
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 240000u);
    EXPECT_TRUE(c->partial);

    Bytes overwritten = three;  // the second frame's header block gone
    std::fill(overwritten.begin() + 120000, overwritten.begin() + 120080, 0xFF);
    c = carveBytes(dv(), overwritten);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 120000u);
}

TEST(DvCarver, PalFramesFromTheEncoder) {
    test::TempDir dir;
    const std::string out = dir.file("pal.dv");
    if (test::runCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc=s=720x576:r=25:d=0.08 "
                         "-target pal-dv -an -y " +
                         out + " 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg cannot write DV here";
    const Bytes pal = test::readFile(out);
    ASSERT_EQ(pal.size(), 2 * 144000u);
    expectWholeInEverySurrounding(dv(), pal, "DV", "PAL", false);
    // An NTSC frame behind PAL frames is another recording.
    const auto c = carveBytes(dv(), concat(pal, media("frame-ntsc.dv")));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, pal.size());
}

TEST(DvCarver, LookAlikesAreRejected) {
    const Bytes frame = media("frame-ntsc.dv");
    // The first sector of a frame alone: one DIF sequence start is not a frame.
    EXPECT_FALSE(
        carveBytes(dv(), concat(Bytes(frame.begin(), frame.begin() + 512), Bytes(200000, 0))));
    EXPECT_FALSE(
        carveBytes(dv(), concat(Bytes(frame.begin(), frame.begin() + 12000), randomBytes(200000))));
    Bytes system = frame;  // the second sequence claims the other line system
    system[12000 + 3] = 0xBF;
    EXPECT_FALSE(carveBytes(dv(), system));
    Bytes sections = frame;  // a video block where audio belongs
    sections[6 * 80] = 0x96;
    EXPECT_FALSE(carveBytes(dv(), sections));
}

}  // namespace
}  // namespace kestrum::carve
