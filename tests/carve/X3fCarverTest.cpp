// Sigma X3F: the section directory at the end is found by searching forward and
// trusted when its entries and its trailing offset agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "RawCarverTestSupport.h"
#include "carve/X3fCarver.h"

namespace kestrum::carve {
namespace {

using rawtest::concat;
using rawtest::expect;
using rawtest::noise;

std::string carveX3f(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::describe(rawtest::run(x3fCarver(), bytes, limit));
}

TEST(X3fCarver, DirectoryEndsTheFile) {
    const auto sd = test::sample("exiftool-Sigma.x3f");
    const auto dp2 = test::sample("exiftool-SigmaDP2.x3f");
    if (sd.empty() || dp2.empty()) GTEST_SKIP() << "no samples at " KESTRUM_SAMPLES_DIR;
    for (const auto* file : {&sd, &dp2}) {
        for (const auto& tail : {std::vector<uint8_t>{}, noise(300000, 4), *file})
            EXPECT_EQ(carveX3f(concat(*file, tail)), expect("X3F", file->size()));
        // Cut before the directory's end: partial to the limit.
        EXPECT_EQ(carveX3f(*file, file->size() - 2), expect("X3F", file->size() - 2, true));
    }

    // A "SECd" in the image data before the directory is passed over.
    auto f = dp2;
    const std::string text = "<Dummy image data>";
    const auto at = std::search(f.begin(), f.end(), text.begin(), text.end());
    ASSERT_NE(at, f.end());
    std::memcpy(&*at, "SECd\0\0\x02\0\x01\0\0\0", 12);
    EXPECT_EQ(carveX3f(f), expect("X3F", dp2.size()));

    // The trailing offset, or an entry's length, overwritten: no end is found.
    f = concat(dp2, noise(2000, 8));
    f[dp2.size() - 4] ^= 0x10;
    EXPECT_EQ(carveX3f(f), expect("X3F", f.size(), true));
    f = concat(dp2, noise(2000, 8));
    f[4288 + 12 + 5] = 0xFF;  // the first entry runs into the directory
    EXPECT_EQ(carveX3f(f), expect("X3F", f.size(), true));

    // Version 9.x, no columns, a rotation of 45 degrees.
    for (const auto& [at, value] : {std::pair{6, 9}, {28, 0}, {36, 45}}) {
        f = sd;
        f[at] = static_cast<uint8_t>(value);
        if (at == 28) f[29] = 0;
        EXPECT_EQ(carveX3f(f), "none") << at;
    }
}

}  // namespace
}  // namespace kestrum::carve
