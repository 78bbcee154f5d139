// Fujifilm RAF: the header's part list gives the length.
#include <gtest/gtest.h>

#include <cstring>

#include "RawCarverTestSupport.h"
#include "carve/RafCarver.h"

namespace kestrum::carve {
namespace {

using rawtest::concat;
using rawtest::noise;

std::optional<Carved> carveRaf(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::run(rafCarver(), bytes, limit);
}

TEST(RafCarver, PartListGivesTheLengthAndTheHeaderIsChecked) {
    const auto raf = test::sample("exiftool-FujiFilm.raf");
    if (raf.empty()) GTEST_SKIP() << "no samples at " KESTRUM_SAMPLES_DIR;
    for (const auto& tail : {std::vector<uint8_t>{}, noise(100000, 3), raf}) {
        const auto c = carveRaf(concat(raf, tail));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->type, "RAF");
        EXPECT_EQ(c->length, raf.size());
        EXPECT_FALSE(c->partial);
    }
    auto c = carveRaf(raf, 20000);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 20000u);

    // This two-sensor camera lists a second CFA header and data (at 120); without that
    // list the file ends with the first CFA data, 0x9608 + 0x16.
    auto f = raf;
    std::fill_n(f.begin() + 120, 16, 0);
    c = carveRaf(f);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 0x9608u + 0x16u);
    // A second list whose CFA header differs from the first is not one.
    f = raf;
    f[0x6312 + 5] ^= 0x40;
    c = carveRaf(f);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 0x9608u + 0x16u);

    // A part past the limit: partial.
    f = raf;
    f[104] = 0x10;  // first CFA data length + 256 MB
    c = carveRaf(f);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, raf.size());

    const std::pair<size_t, uint8_t> breaks[] = {
        {17, 'x'},       // format version digits
        {62, 'x'},       // directory version digits
        {30, 0x01},      // camera name text
        {0x94, 0},       // the preview is not a JPEG
        {87, 0x10},      // preview offset below the header
        {0x301c, 0xFF},  // CFA header record count
    };
    for (const auto& [at, value] : breaks) {
        SCOPED_TRACE(at);
        f = raf;
        if (at == 87) {
            std::fill_n(f.begin() + 84, 4, 0);
            f[87] = value;
        } else {
            f[at] = value;
        }
        EXPECT_FALSE(carveRaf(f));
    }
}

}  // namespace
}  // namespace kestrum::carve
