// The Ogg carver on Vorbis, Opus and Theora+Vorbis files, chained links, cut and
// damaged pages, and pages whose checksum fails.
#include <gtest/gtest.h>

#include <cstring>

#include "AudioCarveSupport.h"
#include "carve/OggCarver.h"

namespace kestrum::carve {
namespace {

using namespace audiotest;

// Offsets of the pages of a file, read from their headers.
std::vector<size_t> pageStarts(const std::vector<uint8_t>& f) {
    std::vector<size_t> out;
    for (size_t at = 0; at + 27 <= f.size();) {
        out.push_back(at);
        size_t len = 27 + f[at + 26];
        for (size_t i = 0; i < f[at + 26]; ++i) len += f[at + 27 + i];
        at += len;
    }
    return out;
}

TEST(OggCarver, MeasuresSingleMultiplexedAndChainedStreams) {
    const CarverEntry& e = oggCarver();
    expectExact(e, "tone.ogg", "OGG");
    expectExact(e, "carve/tone-opus.ogg", "OGG");
    expectExact(e, "carve/clip-theora.ogg", "OGG");
    const auto chain = concat(data("tone.ogg"), data("carve/tone-opus.ogg"));
    const auto c = carveBytes(e, concat(chain, randomBytes(1000, 3)));
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->length, chain.size());
    EXPECT_FALSE(c->partial);
}

TEST(OggCarver, EndsAtTheLastSoundPageOfAnOpenStream) {
    const CarverEntry& e = oggCarver();
    const auto file = data("carve/clip-theora.ogg");
    const auto pages = pageStarts(file);
    ASSERT_GE(pages.size(), 6u);
    expectPartial(carveBytes(e, file, pages[4] + 10), pages[4]);
    auto damaged = file;
    damaged[pages[3] + 40] ^= 0x01;  // a payload byte: the page's CRC fails
    expectPartial(carveBytes(e, damaged), pages[3]);
}

TEST(OggCarver, RejectsFirstPagesThatAreNotStreamStarts) {
    const CarverEntry& e = oggCarver();
    auto file = data("tone.ogg");
    auto bad = file;
    bad[30] ^= 0x01;
    EXPECT_FALSE(carveBytes(e, bad));
    const auto pages = pageStarts(file);
    const std::vector<uint8_t> middle(file.begin() + pages[2], file.end());
    EXPECT_FALSE(carveBytes(e, middle));
    auto noise = randomBytes(2048, 5);
    std::memcpy(noise.data(), "OggS\0\2", 6);
    EXPECT_FALSE(carveBytes(e, noise));
}

}  // namespace
}  // namespace kestrum::carve
