// Canon CRW (CIFF): the root heap's table is found by scanning forward and
// trusted only when its pointer, records and sub-heaps describe the heap.
#include <gtest/gtest.h>

#include <cstring>

#include "RawCarverTestSupport.h"
#include "carve/CiffCarver.h"

namespace kestrum::carve {
namespace {

using rawtest::concat;
using rawtest::expect;
using rawtest::noise;

std::string carveCrw(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::describe(rawtest::run(ciffCarver(), bytes, limit));
}

TEST(CiffCarver, SamplesMeasureToTheHeapEndOrTheirTrailer) {
    const auto edited = test::sample("exiftool-CanonRaw.crw");
    const auto s40 = test::sample("exiv2-exiv2-canon-powershot-s40.crw");
    if (edited.empty() || s40.empty()) GTEST_SKIP() << "no samples at " KESTRUM_SAMPLES_DIR;
    for (const auto* file : {&edited, &s40}) {
        for (const auto& tail :
             {std::vector<uint8_t>{}, noise(300000, 5), std::vector<uint8_t>(300000), *file})
            EXPECT_EQ(carveCrw(concat(*file, tail)), expect("CRW", file->size()));
    }
    // The first ends with an edit-settings trailer after its heap (which ends at 6256):
    // cut inside, it runs to the limit; without its footer it is not the file's.
    EXPECT_EQ(carveCrw(edited, 6500), expect("CRW", 6500, true));
    auto f = edited;
    f[f.size() - 0x40] ^= 0xFF;
    EXPECT_EQ(carveCrw(f), expect("CRW", 6256));

    // Cut before the root table's end, or its pointer overwritten: no table is found
    // and the file runs to the limit.
    EXPECT_EQ(carveCrw(s40, s40.size() - 4), expect("CRW", s40.size() - 4, true));
    f = concat(s40, noise(5000, 6));
    f[s40.size() - 4] ^= 0x01;
    EXPECT_EQ(carveCrw(f), expect("CRW", f.size(), true));
    // A sub-heap whose own pointer is overwritten discredits the root table.
    f = concat(s40, noise(5000, 6));
    f[0x1a + 0x1142 + 0x15e8 - 2] = 0x7F;  // in the last 4 bytes of the 0x300A heap
    EXPECT_EQ(carveCrw(f), expect("CRW", f.size(), true));
}

TEST(CiffCarver, HeadersThatDoNotHoldAreRejected) {
    std::vector<uint8_t> h(4096);
    std::memcpy(h.data(), "II\x1a\0\0\0HEAPCCDR\x02\0\x01\0", 18);
    EXPECT_EQ(carveCrw(h), expect("CRW", 4096, true));  // a believable header, no table
    // Header length, reserved bytes, version 7.x, the heap name.
    for (const auto& [at, value] : {std::pair{2, 0x20}, {20, 1}, {17, 7}, {7, 'X'}}) {
        auto f = h;
        f[at] = static_cast<uint8_t>(value);
        EXPECT_EQ(carveCrw(f), "none") << at;
    }
}

}  // namespace
}  // namespace kestrum::carve
