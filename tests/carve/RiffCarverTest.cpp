// The RIFF carver on encoder-made WAV and AVI files and on broken and look-alike RIFFs.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>

#include "AudioCarveSupport.h"
#include "carve/RiffCarver.h"

namespace kestrum::carve {
namespace {

using namespace audiotest;

void putLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void appendChunk(std::vector<uint8_t>& b, const char* id, const std::vector<uint8_t>& body) {
    b.insert(b.end(), id, id + 4);
    b.resize(b.size() + 4);
    putLe32(b, b.size() - 4, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) b.push_back(0);
}

TEST(RiffCarver, MeasuresEncoderFilesAndClassesThem) {
    const CarverEntry& e = riffCarver();
    for (const char* wav : {"tone.wav", "tone-icrd-header.wav", "tone-icrd-trailer.wav",
                            "carve/wav-list.wav", "carve/wav-odd.wav", "carve/wav-rf64.wav"})
        expectExact(e, wav, "WAV");
    expectExact(e, "clip.avi", "AVI");
    expectExact(e, "carve/clip-xvid.avi", "DIVX");
}

TEST(RiffCarver, WebpPicturesByTheirFirstChunk) {
    const CarverEntry& e = riffCarver();
    expectExact(e, "carve/photo-lossy.webp", "WEBP");
    expectExact(e, "carve/photo-lossless.webp", "WEBP");
    const auto lossy = data("carve/photo-lossy.webp");
    expectPartial(carveBytes(e, lossy, lossy.size() - 20), lossy.size() - 20);
    auto noKeyframe = lossy;  // a VP8 chunk without the key frame's start code
    noKeyframe[12 + 8 + 3] = 0;
    EXPECT_FALSE(carveBytes(e, noKeyframe));
    const auto sample = test::sample("exiftool-RIFF.webp");
    if (sample.empty()) GTEST_SKIP() << "no sample folder";
    const auto c = carveBytes(e, concat(sample, randomBytes(1000, 2)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "WEBP");
    EXPECT_EQ(c->length, sample.size());
}

TEST(RiffCarver, OpenSizesAndBrokenChunksGivePartialPrefixes) {
    const CarverEntry& e = riffCarver();
    // A pipe-written WAV leaves RIFF and data sizes open: the samples run to the limit.
    const auto pipe = data("carve/wav-pipe.wav");
    expectPartial(carveBytes(e, concat(pipe, std::vector<uint8_t>(3000, 0))), pipe.size() + 3000);
    expectPartial(carveBytes(e, pipe, 1000), 1000);

    // Cut by the limit inside the samples.
    const auto wav = data("tone.wav");
    expectPartial(carveBytes(e, wav, 5000), 5000);

    // An AVI whose index chunk header was overwritten ends before it.
    auto avi = data("clip.avi");
    const size_t idx = avi.size() - 8 - (avi[avi.size() - 1] == 0 ? 1 : 0);
    const std::string tag = "idx1";
    const auto found = std::search(avi.begin(), avi.end(), tag.begin(), tag.end());
    ASSERT_NE(found, avi.end());
    const size_t at = static_cast<size_t>(found - avi.begin());
    ASSERT_LT(at, idx + 8);
    std::memset(avi.data() + at, 0, 4);
    expectPartial(carveBytes(e, avi), at);

    // A RIFF size one byte past the end of the bytes: cut, never past the limit.
    auto over = data("clip.avi");
    putLe32(over, 4, static_cast<uint32_t>(over.size() - 8 + 1));
    expectPartial(carveBytes(e, over), over.size());

    // A RIFF size far past the chunks: the walk stops where they do.
    auto big = data("tone.wav");
    putLe32(big, 4, 0x7FFFFFF0);
    expectPartial(carveBytes(e, concat(big, randomBytes(2000, 3))), big.size());
}

TEST(RiffCarver, FollowsOpenDmlExtensionsAndMidiInRiff) {
    const CarverEntry& e = riffCarver();
    auto avi = data("clip.avi");
    const size_t first = avi.size();
    std::vector<uint8_t> movi{'m', 'o', 'v', 'i'};
    appendChunk(movi, "00dc", std::vector<uint8_t>(301, 7));
    std::vector<uint8_t> avix{'A', 'V', 'I', 'X'};
    appendChunk(avix, "LIST", movi);
    appendChunk(avi, "RIFF", avix);
    const auto c = carveBytes(e, concat(avi, std::vector<uint8_t>(600, 0)));
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->length, avi.size());
    EXPECT_GT(c->length, first);
    EXPECT_FALSE(c->partial);

    std::vector<uint8_t> rmid{'R', 'M', 'I', 'D'};
    appendChunk(rmid, "data", data("notes.mid"));
    std::vector<uint8_t> file;
    appendChunk(file, "RIFF", rmid);
    const auto m = carveBytes(e, concat(file, randomBytes(700, 5)));
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->type, "MIDI");
    EXPECT_EQ(m->length, file.size());
}

TEST(RiffCarver, RejectsLookAlikes) {
    const CarverEntry& e = riffCarver();
    auto noise = randomBytes(4096, 9);
    std::memcpy(noise.data(), "RIFF\x00\x10\x00\x00WAVE", 12);
    EXPECT_FALSE(carveBytes(e, noise));
    std::memcpy(noise.data(),
                "RIFF\x00\x10\x00\x00"
                "AVI LIST\x00\x01\x00\x00movi",
                24);
    EXPECT_FALSE(carveBytes(e, noise));

    auto wav = data("tone.wav");
    wav[22] = 0;  // no channels
    wav[23] = 0;
    EXPECT_FALSE(carveBytes(e, wav));
    wav = data("tone.wav");
    putLe32(wav, 4, 2);  // smaller than the form type and one chunk header
    EXPECT_FALSE(carveBytes(e, wav));
}

}  // namespace
}  // namespace kestrum::carve
