// FLAC, ADTS AAC and AMR carving: encoder files measured exactly, cut and damaged
// streams kept to their checked prefix, look-alikes rejected.
#include <gtest/gtest.h>

#include <cstring>

#include "AudioCarveSupport.h"
#include "carve/AdtsCarver.h"
#include "carve/AmrCarver.h"
#include "carve/FlacCarver.h"

namespace kestrum::carve {
namespace {

using namespace audiotest;

// Offset of the first frame: behind the metadata blocks.
size_t flacFrames(const std::vector<uint8_t>& f) {
    size_t at = 4;
    for (bool last = false; !last;) {
        last = f[at] & 0x80;
        at += 4 + (f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3]);
    }
    return at;
}

TEST(FlacCarver, FramesCheckedByCrcGiveTheLength) {
    const CarverEntry& e = flacCarver();
    expectExact(e, "carve/tone.flac", "FLAC");
    const auto file = data("carve/tone.flac");
    const size_t frames = flacFrames(file);
    ASSERT_LT(frames + 100, file.size());
    // Cut inside the frames: the whole frames before the cut, partial.
    const auto cut = carveBytes(e, file, file.size() - 50);
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->partial);
    EXPECT_LT(cut->length, file.size() - 50);
    EXPECT_GE(cut->length, frames);
    // A damaged frame: its CRC-16 never closes, the stream ends before it.
    auto damaged = file;
    damaged[frames + 20] ^= 0x10;
    expectPartial(carveBytes(e, damaged), frames);
    // The shared sample is trimmed: its metadata is whole, its frames are gone.
    const auto sample = test::sample("exiftool-FLAC.flac");
    if (sample.empty()) GTEST_SKIP() << "no sample folder";
    const auto s = carveBytes(e, concat(sample, std::vector<uint8_t>(4096, 0)));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->type, "FLAC");
    EXPECT_LE(s->length, sample.size());
    EXPECT_GE(s->length, flacFrames(sample));
}

TEST(FlacCarver, RejectsMagicWithoutStreamInfo) {
    const CarverEntry& e = flacCarver();
    auto bad = data("carve/tone.flac");
    bad[8] = bad[9] = 0;  // a minimum block size of 0
    EXPECT_FALSE(carveBytes(e, bad));
    auto noise = randomBytes(2048, 9);
    std::memcpy(noise.data(), "fLaC", 4);
    EXPECT_FALSE(e.quick(noise.data()) && carveBytes(e, noise));
}

TEST(AdtsCarver, FrameChainGivesTheLength) {
    const CarverEntry& e = adtsCarver();
    expectExact(e, "carve/tone.aac", "AAC");
    const auto file = data("carve/tone.aac");
    const size_t first = (file[3] & 3) << 11 | file[4] << 3 | file[5] >> 5;
    expectPartial(carveBytes(e, file, first + 10), first);
    // Another stream's frames behind it (other rate) are not this file's.
    auto other = file;
    other[2] ^= 0x04;
    const auto two = carveBytes(e, concat(file, other));
    ASSERT_TRUE(two);
    EXPECT_EQ(two->length, file.size());
    const auto sample = test::sample("exiftool-AAC.aac");
    if (sample.empty()) GTEST_SKIP() << "no sample folder";
    const auto s = carveBytes(e, sample);  // one frame, the whole sample
    ASSERT_TRUE(s);
    EXPECT_EQ(s->length, sample.size());
}

TEST(AdtsCarver, RejectsLoneSyncWordsAndMpegAudio) {
    const CarverEntry& e = adtsCarver();
    auto noise = randomBytes(4096, 4);
    std::memcpy(noise.data(), "\xFF\xF1\x50\x80\x03\xFF\xFC", 7);  // one frame, then noise
    EXPECT_FALSE(carveBytes(e, noise));
    const auto mp3 = data("carve/mp3-bare.mp3");
    EXPECT_FALSE(e.quick(mp3.data()));
}

// An AMR file of the given mode bytes, each frame filled with a pattern.
std::vector<uint8_t> amr(bool wide, const std::vector<uint8_t>& modes) {
    static constexpr uint8_t kNb[] = {13, 14, 16, 18, 20, 21, 27, 32, 6};
    static constexpr uint8_t kWb[] = {18, 24, 33, 37, 41, 47, 51, 59, 61, 6};
    const std::string magic = wide ? "#!AMR-WB\n" : "#!AMR\n";
    std::vector<uint8_t> f(magic.begin(), magic.end());
    for (uint8_t mode : modes) {
        f.push_back(static_cast<uint8_t>(mode << 3 | 0x04));
        f.resize(f.size() + (wide ? kWb[mode] : kNb[mode]) - 1, 0x5A);
    }
    return f;
}

TEST(AmrCarver, FrameSizesByModeGiveTheLength) {
    // Debian's encoders write no AMR: the frames are laid out by the mode table.
    const CarverEntry& e = amrCarver();
    const std::pair<std::vector<uint8_t>, size_t> files[] = {{amr(false, {7, 7, 7, 8, 7, 0}), 13},
                                                             {amr(true, {8, 8, 2, 9, 8}), 61}};
    for (const auto& [f, lastFrame] : files) {
        const auto c = carveBytes(e, concat(f, std::vector<uint8_t>(1024, 0)));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->type, "AMR");
        EXPECT_EQ(c->length, f.size());
        EXPECT_FALSE(c->partial);
        expectPartial(carveBytes(e, f, f.size() - 3), f.size() - lastFrame);
    }
    // Old bytes behind the file that read as a frame header do not carry the
    // walk into the next sector's file.
    auto f = amr(false, std::vector<uint8_t>(15, 7));  // 6 + 15 x 32 bytes
    ASSERT_EQ(f.size(), 486u);
    f.push_back(0x3C);  // a 32-byte frame's header, 26 bytes before the sector's end
    f.resize(512, 0x11);
    const auto next = carveBytes(e, concat(f, data("carve/photo-lossy.webp")));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->length, 486u);
    EXPECT_FALSE(carveBytes(e, concat(amr(false, {}), std::vector<uint8_t>(600, 0))));
    const std::string text = "#!AMR\nis how the speech files begin";
    EXPECT_FALSE(carveBytes(e, std::vector<uint8_t>(text.begin(), text.end())));
}

}  // namespace
}  // namespace kestrum::carve
