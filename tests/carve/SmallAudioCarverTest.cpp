// The AIFF, MIDI and AU carvers: encoder files, hand-built multi-track and cut
// files, and headers whose fields are out of range.
#include <gtest/gtest.h>

#include <cstring>

#include "AudioCarveSupport.h"
#include "carve/AiffCarver.h"
#include "carve/AuCarver.h"
#include "carve/MidiCarver.h"

namespace kestrum::carve {
namespace {

using namespace audiotest;

TEST(AiffCarver, MeasuresAiffAndAifcAndRejectsBadCommonChunks) {
    const CarverEntry& e = aiffCarver();
    expectExact(e, "tone.aiff", "AIFF");
    expectExact(e, "tone-appl.aiff", "AIFF");
    expectExact(e, "carve/tone.aifc", "AIFF");
    expectPartial(carveBytes(e, data("tone.aiff"), 4000), 4000);

    auto noChannels = data("tone.aiff");
    noChannels[0x15] = 0;  // COMM channels 0
    EXPECT_FALSE(carveBytes(e, noChannels));
    auto badRate = data("tone.aiff");
    badRate[0x1C] = 0x7F;  // sample-rate exponent far out of range
    EXPECT_FALSE(carveBytes(e, badRate));
    auto noise = randomBytes(2048, 21);
    std::memcpy(noise.data(), "FORM\0\0\x10\0AIFF", 12);
    EXPECT_FALSE(carveBytes(e, noise));
}

TEST(MidiCarver, CountsTracksAndStopsAtTheLastOne) {
    const CarverEntry& e = midiCarver();
    expectExact(e, "notes.mid", "MIDI");
    const auto notes = data("notes.mid");
    const std::vector<uint8_t> track(notes.begin() + 14, notes.end());

    // Format 1 with two tracks and a foreign chunk between them.
    auto two = notes;
    two[9] = 1;
    two[11] = 2;
    const std::vector<uint8_t> alien{'X', 'F', 'I', 'H', 0, 0, 0, 2, 9, 9};
    two = concat(concat(two, alien), track);
    const auto c = carveBytes(e, concat(two, concat(track, randomBytes(100, 1))));
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->length, two.size());
    EXPECT_FALSE(c->partial);

    // The second track lost: partial after the first; cut inside the first.
    auto lost = notes;
    lost[9] = 1;
    lost[11] = 2;
    expectPartial(carveBytes(e, concat(lost, std::vector<uint8_t>(64, 0))), notes.size());
    expectPartial(carveBytes(e, notes, 40), 40);

    auto format0Two = notes;
    format0Two[11] = 2;
    EXPECT_FALSE(carveBytes(e, format0Two));
    auto noTrack = notes;
    noTrack[14] = 'X';
    EXPECT_FALSE(carveBytes(e, noTrack));
}

TEST(AuCarver, MeasuresByOffsetAndSizeOrByTheLimitWhenOpen) {
    const CarverEntry& e = auCarver();
    expectExact(e, "tone.au", "AU");
    expectPartial(carveBytes(e, data("tone.au"), 5001), 5001);

    // A pipe-written AU (size FFFFFFFF, 16-bit mono): the limit, whole samples only.
    const auto pipe = data("carve/au-pipe.au");
    expectPartial(carveBytes(e, concat(pipe, std::vector<uint8_t>(4096, 0)), 3001), 3000);

    auto badEncoding = data("tone.au");
    badEncoding[15] = 99;
    EXPECT_FALSE(e.quick(badEncoding.data()));
    EXPECT_FALSE(carveBytes(e, badEncoding));
    auto shortOffset = data("tone.au");
    shortOffset[7] = 8;
    EXPECT_FALSE(carveBytes(e, shortOffset));
}

}  // namespace
}  // namespace kestrum::carve
