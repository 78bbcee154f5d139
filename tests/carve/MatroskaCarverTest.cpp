// Matroska / WebM carving: the EBML header checked, the Segment measured.
#include <gtest/gtest.h>

#include <cstring>

#include "VideoCarve.h"
#include "carve/MatroskaCarver.h"

namespace kestrum::carve {
namespace {

using namespace videotest;

const CarverEntry& mkv() {
    return matroskaCarver();
}

TEST(MatroskaCarver, EncoderFilesAreMeasuredExactly) {
    for (const char* name :
         {"clip.mkv", "clip-doctype-first.mkv", "carve/clip.webm", "carve/clip-pipe.mkv"})
        expectWholeInEverySurrounding(mkv(), media(name), "MKV", name);

    // The pipe-written file with its cluster's size made unknown too, as live
    // writers leave it: the cluster is measured by its children.
    Bytes live = media("carve/clip-pipe.mkv");
    ASSERT_EQ(live[425], 0x1F);
    ASSERT_EQ(live[429], 0x48);  // a two-byte size
    live[429] = 0x7F;
    live[430] = 0xFF;
    expectWholeInEverySurrounding(mkv(), live, "MKV", "unknown-size cluster");
}

TEST(MatroskaCarver, RealSampleWhoseSegmentOutrunsTheFile) {
    const Bytes m = test::sample("exiftool-Matroska.mkv");
    if (m.empty()) GTEST_SKIP() << "no sample folder";
    // The sample keeps the header elements of a much longer file.
    const auto c = carveBytes(mkv(), m);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "MKV");
    EXPECT_EQ(c->length, m.size());
    EXPECT_TRUE(c->partial);
}

TEST(MatroskaCarver, CutOrOverwrittenFilesKeepTheirValidPrefix) {
    // clip.mkv: Segment body from 52, Cluster at 473 to 1887, Cues to 1915.
    const Bytes file = media("clip.mkv");
    auto c = carveBytes(mkv(), file, 1000);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 1000u);
    EXPECT_TRUE(c->partial);

    Bytes broken = file;  // the Cues overwritten
    std::fill(broken.begin() + 1887, broken.end(), 0);
    c = carveBytes(mkv(), broken);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 1887u);
    EXPECT_TRUE(c->partial);

    // Unknown Segment size cut by the limit inside the cluster.
    const Bytes pipe = media("carve/clip-pipe.mkv");
    c = carveBytes(mkv(), pipe, 2000);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 2000u);
    EXPECT_TRUE(c->partial);
    // ... and without its cluster: headers only, no media.
    c = carveBytes(mkv(), concat(Bytes(pipe.begin(), pipe.begin() + 425), Bytes(4096, 0)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 425u);
    EXPECT_TRUE(c->partial);

    Bytes huge = file;  // a Segment size of 2^56 - 2 on a small medium
    std::memcpy(huge.data() + 44, "\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFE", 8);
    c = carveBytes(mkv(), huge);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, file.size());
    EXPECT_TRUE(c->partial);
}

TEST(MatroskaCarver, LookAlikesAreRejected) {
    const Bytes file = media("clip.mkv");
    auto rejected = [](const Bytes& b) { return !carveBytes(mkv(), b).has_value(); };
    Bytes avi = file;  // another EBML document type
    std::memcpy(avi.data() + 0x18, "matrosk\0", 8);
    EXPECT_TRUE(rejected(avi));
    Bytes readVersion = file;  // EBMLReadVersion 2: no reader of ours
    ASSERT_EQ(readVersion[0x0A], 0xF7);
    readVersion[0x0C] = 2;
    EXPECT_TRUE(rejected(readVersion));
    Bytes noSegment = file;
    noSegment[0x28] = 0x19;
    EXPECT_TRUE(rejected(noSegment));
    // The EBML header and a Segment with nothing valid inside.
    EXPECT_TRUE(rejected(concat(Bytes(file.begin(), file.begin() + 52), randomBytes(4096))));
    EXPECT_TRUE(rejected(concat(Bytes(file.begin(), file.begin() + 52), Bytes(512, 0))));
    // The magic and random bytes.
    EXPECT_TRUE(rejected(concat(Bytes(file.begin(), file.begin() + 4), randomBytes(4096, 3))));
    EXPECT_FALSE(mkv().quick(randomBytes(512).data()));
}

}  // namespace
}  // namespace kestrum::carve
