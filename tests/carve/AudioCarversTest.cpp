// What every audio carver owes the scan: catalogue type names only, and a sane
// answer (a length inside the limit, a type of its own list) for damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "AudioCarveSupport.h"
#include "carve/AiffCarver.h"
#include "carve/AsfCarver.h"
#include "carve/AuCarver.h"
#include "carve/MidiCarver.h"
#include "carve/Mp3Carver.h"
#include "carve/OggCarver.h"
#include "carve/RiffCarver.h"
#include "filetypes/Catalogue.h"

namespace kestrum::carve {
namespace {

using namespace audiotest;

const CarverEntry* const kAudio[] = {&riffCarver(), &mp3Carver(), &asfCarver(), &midiCarver(),
                                     &aiffCarver(), &oggCarver(), &auCarver()};

TEST(AudioCarvers, ClassIntoCatalogueTypesAndSitInTheTable) {
    for (const CarverEntry* e : kAudio) {
        SCOPED_TRACE(e->family);
        const auto rows = offeredRows(true);
        for (std::string_view t : e->types)
            EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                                    [&](const CatalogueRow& row) { return row.type == t; }))
                << t;
        EXPECT_TRUE(std::any_of(carvers().begin(), carvers().end(),
                                [&](const CarverEntry& c) { return c.family == e->family; }));
    }
    // The frame-sync family goes after every family with a specific magic.
    EXPECT_EQ(carvers().back().family, mp3Carver().family);
}

// Damaged copies of every encoder file: random bytes changed (size fields
// included), cut at random limits, noise behind them.
TEST(AudioCarvers, DamagedFilesGiveBoundedAnswers) {
    const char* files[] = {"tone.wav",        "clip.avi",           "carve/clip-xvid.avi",
                           "tone.mp3",        "carve/mp3-bare.mp3", "tone.wma",
                           "clip.asf",        "notes.mid",          "tone.aiff",
                           "carve/tone.aifc", "tone.ogg",           "carve/clip-theora.ogg",
                           "tone.au",         "carve/au-pipe.au",   "carve/wav-pipe.wav"};
    std::mt19937 gen(77);
    int accepted = 0;
    for (const char* name : files) {
        const auto original = concat(data(name), randomBytes(1024, 2));
        for (int round = 0; round < 200; ++round) {
            auto bytes = original;
            const int edits = 1 + gen() % 8;
            for (int k = 0; k < edits; ++k) {
                const size_t at = gen() % std::min<size_t>(bytes.size(), round % 2 ? 64 : 4096);
                bytes[at] = static_cast<uint8_t>(gen() % 3 == 0 ? 0xFF : gen());
            }
            const uint64_t limit = round % 3 == 0 ? gen() % bytes.size() : bytes.size();
            for (const CarverEntry* e : kAudio) {
                const auto c = carveBytes(*e, bytes, limit);
                if (!c) continue;
                ++accepted;
                ASSERT_GT(c->length, 0u) << name << " " << e->family;
                ASSERT_LE(c->length, limit) << name << " " << e->family;
                ASSERT_TRUE(std::count(e->types.begin(), e->types.end(), c->type)) << c->type;
            }
        }
    }
    EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace kestrum::carve
