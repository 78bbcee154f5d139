// Fujifilm RAF: the header's part list gives the length.
#include <gtest/gtest.h>

#include "RawCarverTestSupport.h"
#include "carve/RafCarver.h"

namespace kestrum::carve {
namespace {

using rawtest::concat;
using rawtest::expect;
using rawtest::noise;

std::string carveRaf(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::describe(rawtest::run(rafCarver(), bytes, limit));
}

TEST(RafCarver, PartListGivesTheLengthAndTheHeaderIsChecked) {
    const auto raf = test::sample("exiftool-FujiFilm.raf");
    if (raf.empty()) GTEST_SKIP() << "no samples at " KESTRUM_SAMPLES_DIR;
    for (const auto& tail : {std::vector<uint8_t>{}, noise(100000, 3), raf})
        EXPECT_EQ(carveRaf(concat(raf, tail)), expect("RAF", raf.size()));
    EXPECT_EQ(carveRaf(raf, 20000), expect("RAF", 20000, true));

    // This two-sensor camera lists a second CFA header and data at 120; without that
    // list, or when its CFA header differs from the first, the file ends with the
    // first CFA data at 0x9608 + 0x16.
    auto f = raf;
    std::fill_n(f.begin() + 120, 16, 0);
    EXPECT_EQ(carveRaf(f), expect("RAF", 0x9608 + 0x16));
    f = raf;
    f[0x6312 + 5] ^= 0x40;
    EXPECT_EQ(carveRaf(f), expect("RAF", 0x9608 + 0x16));
    // A part past the limit: the first CFA data 256 MB longer.
    f = raf;
    f[104] = 0x10;
    EXPECT_EQ(carveRaf(f), expect("RAF", raf.size(), true));

    // Format version digits, directory version digits, camera name text, a preview
    // that is not a JPEG, a preview inside the header, a CFA header's record count.
    for (const auto& [at, value] :
         {std::pair{17, 'x'}, {62, 'x'}, {30, 1}, {0x94, 0}, {86, 0}, {0x301c, 0xFF}}) {
        f = raf;
        f[at] = static_cast<uint8_t>(value);
        if (at == 86) f[87] = 0x10;
        EXPECT_EQ(carveRaf(f), "none") << at;
    }
}

}  // namespace
}  // namespace kestrum::carve
