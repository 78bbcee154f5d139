// JPEG XL carving: the box container measured by its boxes, the bare codestream
// up to the slack or the next file behind it, look-alikes rejected.
#include <gtest/gtest.h>

#include <cstring>

#include "VideoCarve.h"
#include "carve/JxlCarver.h"

namespace kestrum::carve {
namespace {

using namespace videotest;

TEST(JxlCarver, BareCodestreamRunsToTheSlack) {
    const CarverEntry& e = jxlCarver();
    const Bytes f = media("carve/photo.jxl");
    ASSERT_EQ(f[0], 0xFF);
    const auto c = carveBytes(e, concat(f, Bytes(4096, 0)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "JXL");
    EXPECT_EQ(c->length, f.size());
    // Random bytes behind it are not told from the picture's own ...
    const auto r = carveBytes(e, concat(f, randomBytes(600)));
    ASSERT_TRUE(r);
    EXPECT_GT(r->length, f.size());
    // ... but the next sector's file is: the picture ends before it.
    Bytes sectorEnd = f;
    sectorEnd.resize((f.size() + 511) / 512 * 512, 0);
    const auto next = carveBytes(e, concat(sectorEnd, media("carve/photo-lossy.webp")));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->length, f.size());
}

TEST(JxlCarver, ContainerBoxesGiveTheLength) {
    const CarverEntry& e = jxlCarver();
    const Bytes sample = test::sample("exiftool-JXL2.jxl");
    if (sample.empty()) GTEST_SKIP() << "no sample folder";
    const auto c = carveBytes(e, concat(sample, randomBytes(4096)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "JXL");
    EXPECT_EQ(c->length, sample.size());
    const auto cut = carveBytes(e, sample, sample.size() - 10);
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->partial);
    Bytes noFtyp = sample;  // the signature box and then no file-type box
    std::memcpy(noFtyp.data() + 16, "free", 4);
    EXPECT_FALSE(e.quick(noFtyp.data()) && carveBytes(e, noFtyp));
}

}  // namespace
}  // namespace kestrum::carve
