// The ASF carver on ffmpeg's WMA and ASF output, broadcast and broken files, and
// look-alikes that share the header GUID.
#include <gtest/gtest.h>

#include <cstring>

#include "AudioCarveSupport.h"
#include "carve/AsfCarver.h"

namespace kestrum::carve {
namespace {

using namespace audiotest;

// clip.asf: header object 489 bytes (File Properties at 30), data object 3250
// bytes, simple index 86 bytes at 3739.
constexpr size_t kClipFlags = 30 + 88, kClipFileSize = 30 + 40, kClipIndex = 3739;

TEST(AsfCarver, MeasuresEncoderFilesAndClassesByStreams) {
    expectExact(asfCarver(), "tone.wma", "WMA");
    expectExact(asfCarver(), "clip.asf", "ASF");
}

TEST(AsfCarver, WalksObjectsWhenTheSizeIsUnknownOrWrong) {
    const CarverEntry& e = asfCarver();
    const auto clip = data("clip.asf");
    ASSERT_EQ(clip.size(), 3825u);

    // Broadcast files carry no valid file size: the object walk ends the file.
    auto broadcast = clip;
    broadcast[kClipFlags] |= 1;
    const auto b = carveBytes(e, concat(broadcast, std::vector<uint8_t>(1024, 0)));
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->length, clip.size());
    EXPECT_FALSE(b->partial);

    // A recorded size beyond the objects: the rest was lost.
    auto longer = clip;
    longer[kClipFileSize] = 0x88;  // 3825 -> 5000
    longer[kClipFileSize + 1] = 0x13;
    expectPartial(carveBytes(e, concat(longer, randomBytes(2000, 1))), clip.size());

    auto noIndex = clip;
    std::memset(noIndex.data() + kClipIndex, 0, 16);
    expectPartial(carveBytes(e, noIndex), kClipIndex);
    expectPartial(carveBytes(e, clip, 2000), 2000);
}

TEST(AsfCarver, RejectsHeadersThatDoNotHoldTogether) {
    const CarverEntry& e = asfCarver();
    auto noise = randomBytes(4096, 12);
    std::memcpy(noise.data(), data("tone.wma").data(), 16);
    EXPECT_FALSE(carveBytes(e, noise));

    auto grown = data("tone.wma");
    grown[16] += 8;  // header size no longer tiled by its objects
    EXPECT_FALSE(carveBytes(e, grown));
    auto noData = data("tone.wma");
    noData[394] ^= 0xFF;  // no data object behind the header
    EXPECT_FALSE(carveBytes(e, noData));
    EXPECT_FALSE(carveBytes(e, data("tone.wma"), 300));  // header cut: nothing to stand on
}

}  // namespace
}  // namespace kestrum::carve
