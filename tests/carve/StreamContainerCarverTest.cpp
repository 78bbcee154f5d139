// MPEG transport stream and MXF carving: encoder and camera files measured,
// broken packet chains cut where they break, look-alikes rejected.
#include <gtest/gtest.h>

#include <cstring>

#include "VideoCarve.h"
#include "carve/MxfCarver.h"
#include "carve/TransportStreamCarver.h"

namespace kestrum::carve {
namespace {

using namespace videotest;

TEST(TransportStreamCarver, PacketChainsOf188And192Bytes) {
    const CarverEntry& e = transportStreamCarver();
    for (const char* name : {"carve/clip.ts", "carve/clip.m2ts"}) {
        const Bytes f = media(name);
        const size_t stride = std::string(name).ends_with("m2ts") ? 192 : 188;
        ASSERT_EQ(f.size() % stride, 0u) << name;
        // Not "then itself": a second recording's tables continue the counters.
        expectWholeInEverySurrounding(e, f, "MTS", name, false);
        // A lost packet breaks the continuity of its stream: the file ends before it.
        Bytes gap(f.begin(), f.begin() + 5 * stride);
        gap.insert(gap.end(), f.begin() + 6 * stride, f.end());
        const auto c = carveBytes(e, gap);
        ASSERT_TRUE(c) << name;
        EXPECT_LE(c->length, gap.size() - stride) << name;
        EXPECT_GE(c->length, 5 * stride) << name;
        // Cut by the limit inside a packet.
        const auto cut = carveBytes(e, f, 7 * stride + 5);
        ASSERT_TRUE(cut) << name;
        EXPECT_EQ(cut->length, 7 * stride);
        EXPECT_TRUE(cut->partial);
    }
    const Bytes sample = test::sample("exiftool-M2TS.mts");
    if (sample.empty()) GTEST_SKIP() << "no sample folder";
    const auto c = carveBytes(e, concat(sample, Bytes(2048, 0)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, sample.size());
}

TEST(TransportStreamCarver, RejectsSyncBytesWithoutStreamStart) {
    const CarverEntry& e = transportStreamCarver();
    const Bytes f = media("carve/clip.ts");
    const Bytes middle(f.begin() + 188 * 4, f.end());  // video packets, no tables first
    Bytes sector(512, 0);
    std::copy_n(middle.begin(), std::min<size_t>(512, middle.size()), sector.begin());
    EXPECT_FALSE(e.quick(sector.data()) && carveBytes(e, middle));
    Bytes text(600, 'G');  // 'G' is the sync byte
    EXPECT_FALSE(e.quick(text.data()));
}

TEST(MxfCarver, KlvWalkFromHeaderPartition) {
    const CarverEntry& e = mxfCarver();
    const Bytes sample = test::sample("exiftool-MXF.mxf");
    if (sample.empty()) GTEST_SKIP() << "no sample folder";
    Bytes sector(512, 0);
    std::copy_n(sample.begin(), 512, sector.begin());
    ASSERT_TRUE(e.quick(sector.data()));
    const auto c = carveBytes(e, concat(sample, Bytes(4096, 0)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "MXF");
    EXPECT_LE(c->length, sample.size());
    EXPECT_GT(c->length, 1000u);
    // Cut by the limit: the valid packets before it, partial.
    const auto cut = carveBytes(e, sample, 3000);
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->partial);
    EXPECT_LE(cut->length, 3000u);
    // A key that is no SMPTE label right after the pack ends the walk there.
    Bytes broken = sample;
    const size_t afterPack = 20 + sample[18] * 256u + sample[19];  // 4-byte BER length
    broken[afterPack] = 0x07;
    const auto b = carveBytes(e, broken);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->length, afterPack);
    EXPECT_TRUE(b->partial);
}

}  // namespace
}  // namespace kestrum::carve
