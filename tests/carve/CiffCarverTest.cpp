// Canon CRW (CIFF): the root heap's table is found by scanning forward and
// trusted only when its pointer, records and sub-heaps describe the heap.
#include <gtest/gtest.h>

#include <cstring>

#include "RawCarverTestSupport.h"
#include "carve/CiffCarver.h"

namespace kestrum::carve {
namespace {

using rawtest::concat;
using rawtest::noise;

std::optional<Carved> carveCrw(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::run(ciffCarver(), bytes, limit);
}

TEST(CiffCarver, SamplesMeasureToTheHeapEndOrTheirTrailer) {
    const auto edited = test::sample("exiftool-CanonRaw.crw");
    const auto s40 = test::sample("exiv2-exiv2-canon-powershot-s40.crw");
    if (edited.empty() || s40.empty()) GTEST_SKIP() << "no samples at " KESTRUM_SAMPLES_DIR;
    // The first ends with an edit-settings trailer after its heap (which ends at 6256).
    constexpr uint64_t kHeapEnd = 6256;
    for (const auto* file : {&edited, &s40}) {
        for (const auto& tail :
             {std::vector<uint8_t>{}, noise(300000, 5), std::vector<uint8_t>(300000, 0), *file}) {
            const auto c = carveCrw(concat(*file, tail));
            ASSERT_TRUE(c);
            EXPECT_EQ(c->type, "CRW");
            EXPECT_EQ(c->length, file->size());
            EXPECT_FALSE(c->partial);
        }
    }

    // Cut inside the trailer: at least up to the limit.
    auto c = carveCrw(edited, 6500);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 6500u);
    // A trailer without its footer is not the file's.
    auto f = edited;
    f[f.size() - 0x40] ^= 0xFF;
    c = carveCrw(f);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, kHeapEnd);
    EXPECT_FALSE(c->partial);

    // Cut before the root table, or the table's pointer overwritten: the table is not
    // found and the file runs to the limit.
    c = carveCrw(s40, s40.size() - 4);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, s40.size() - 4);
    f = concat(s40, noise(5000, 6));
    f[s40.size() - 4] ^= 0x01;
    c = carveCrw(f);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, f.size());
    // A sub-heap whose own pointer is overwritten discredits the root table.
    f = concat(s40, noise(5000, 6));
    const size_t propsEnd = 0x1a + 0x1142 + 0x15e8;  // the 0x300A heap's last byte + 1
    f[propsEnd - 2] = 0x7F;
    c = carveCrw(f);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
}

TEST(CiffCarver, HeadersThatDoNotHoldAreRejected) {
    std::vector<uint8_t> h(4096);
    std::memcpy(h.data(), "II\x1a\0\0\0HEAPCCDR\x02\0\x01\0", 18);
    ASSERT_TRUE(carveCrw(h));  // a believable header without a table: partial
    auto f = h;
    f[2] = 0x20;  // header length
    EXPECT_FALSE(carveCrw(f));
    f = h;
    f[20] = 1;  // reserved bytes
    EXPECT_FALSE(carveCrw(f));
    f = h;
    f[17] = 7;  // version 7.x
    EXPECT_FALSE(carveCrw(f));
    f = h;
    f[7] = 'X';
    EXPECT_FALSE(carveCrw(f));
}

}  // namespace
}  // namespace kestrum::carve
