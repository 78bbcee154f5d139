// The MPEG audio carver on LAME and MP2 encoder output, tails of tags behind the
// frames, cut and overwritten streams, and frame-sync look-alikes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "AudioCarveSupport.h"
#include "carve/Mp3Carver.h"

namespace kestrum::carve {
namespace {

using namespace audiotest;

void append(std::vector<uint8_t>& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}

void appendLe32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An APEv2 tag with one item; with or without its header.
std::vector<uint8_t> apeTag(bool withHeader) {
    std::vector<uint8_t> item;
    appendLe32(item, 4);
    appendLe32(item, 0);
    append(item, std::string("Title\0Tone", 10));
    const uint32_t size = static_cast<uint32_t>(item.size() + 32);
    auto block = [&](uint32_t flags) {
        std::vector<uint8_t> b;
        append(b, "APETAGEX");
        appendLe32(b, 2000);
        appendLe32(b, size);
        appendLe32(b, 1);
        appendLe32(b, flags);
        b.resize(b.size() + 8, 0);
        return b;
    };
    const uint32_t hasHeader = withHeader ? 0x80000000u : 0;
    std::vector<uint8_t> tag = withHeader ? block(hasHeader | 0x20000000u) : std::vector<uint8_t>{};
    tag = concat(concat(tag, item), block(hasHeader));
    return tag;
}

std::vector<uint8_t> id3v1() {
    std::vector<uint8_t> t(128, 0);
    std::memcpy(t.data(), "TAGTone", 7);
    return t;
}

TEST(Mp3Carver, MeasuresEncoderFilesWithAndWithoutTags) {
    const CarverEntry& e = mp3Carver();
    for (const char* f : {"tone.mp3", "carve/mp3-bare.mp3", "carve/mp3-id3v1.mp3",
                          "carve/mp3-vbr.mp3", "carve/tone.mp2"})
        expectExact(e, f, "MP3");
}

TEST(Mp3Carver, TakesLyricsApeAndId3v1TailsBehindTheFrames) {
    const CarverEntry& e = mp3Carver();
    const auto bare = data("carve/mp3-bare.mp3");
    const std::string lyrics = "LYRICSBEGININD0000210";
    std::vector<uint8_t> l3;
    append(l3, lyrics + "0000" + std::to_string(lyrics.size()) + "LYRICS200");
    for (bool header : {true, false}) {
        const auto file = concat(concat(concat(bare, l3), apeTag(header)), id3v1());
        const auto c = carveBytes(e, concat(file, randomBytes(3000, 2)));
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(c->length, file.size());
        EXPECT_FALSE(c->partial);
    }
}

// Frame offsets of mp3-bare.mp3 (ffprobe -show_entries packet=pos): an Info frame
// of 182 bytes, then frames at 182, 286, 391, 495, 600, 704, 809, 913, 1018.
TEST(Mp3Carver, CutOrOverwrittenStreamsEndAtTheLastWholeFrame) {
    const CarverEntry& e = mp3Carver();
    const auto file = data("carve/mp3-bare.mp3");
    expectPartial(carveBytes(e, file, 1000), 913);

    // Random bytes from 800 on: the stream ends with the frame they begin in, not
    // partial (a frame stream has no recorded length to miss).
    auto hit = file;
    const auto noise = randomBytes(300, 4);
    std::copy(noise.begin(), noise.end(), hit.begin() + 800);
    hit[809] = 0;
    const auto c = carveBytes(e, hit);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->length, 809u);
    EXPECT_FALSE(c->partial);
}

TEST(Mp3Carver, RejectsLoneHeadersAndMixedStreams) {
    const CarverEntry& e = mp3Carver();
    const auto file = data("carve/mp3-bare.mp3");
    // Three frames then noise: too few without a tag.
    auto three = file;
    const auto noise = randomBytes(three.size() - 391, 6);
    std::copy(noise.begin(), noise.end(), three.begin() + 391);
    three[391] = 0;
    EXPECT_FALSE(carveBytes(e, three));

    // A sample-rate change inside the chain ends it.
    auto mixed = file;
    mixed[391 + 2] ^= 0x04;  // 22.05 -> 24 kHz
    EXPECT_FALSE(carveBytes(e, mixed));

    // An ID3v2 tag followed by noise, and a bad ID3 version.
    auto tagged = data("tone.mp3");
    ASSERT_EQ(tagged[0], 'I');
    const size_t tagEnd = 10 + (tagged[6] << 21 | tagged[7] << 14 | tagged[8] << 7 | tagged[9]);
    auto scrambled = tagged;
    const auto junk = randomBytes(tagged.size() - tagEnd, 8);
    std::copy(junk.begin(), junk.end(), scrambled.begin() + tagEnd);
    scrambled[tagEnd] = 0x11;
    EXPECT_FALSE(carveBytes(e, scrambled));
    tagged[3] = 9;
    EXPECT_FALSE(carveBytes(e, tagged));

    auto lone = randomBytes(512, 10);
    std::memcpy(lone.data(), "\xFF\xFB\x90\x64", 4);  // 417-byte MPEG-1 layer III frame
    EXPECT_FALSE(e.quick(lone.data()) && carveBytes(e, lone));
}

}  // namespace
}  // namespace kestrum::carve
