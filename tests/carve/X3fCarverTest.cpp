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
using rawtest::noise;

std::optional<Carved> carveX3f(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::run(x3fCarver(), bytes, limit);
}

TEST(X3fCarver, DirectoryEndsTheFile) {
    const auto sd = test::sample("exiftool-Sigma.x3f");
    const auto dp2 = test::sample("exiftool-SigmaDP2.x3f");
    if (sd.empty() || dp2.empty()) GTEST_SKIP() << "no samples at " KESTRUM_SAMPLES_DIR;
    for (const auto* file : {&sd, &dp2}) {
        for (const auto& tail : {std::vector<uint8_t>{}, noise(300000, 4), *file}) {
            const auto c = carveX3f(concat(*file, tail));
            ASSERT_TRUE(c);
            EXPECT_EQ(c->type, "X3F");
            EXPECT_EQ(c->length, file->size());
            EXPECT_FALSE(c->partial);
        }
        // Cut before the directory's end: partial to the limit.
        const auto c = carveX3f(*file, file->size() - 2);
        ASSERT_TRUE(c);
        EXPECT_TRUE(c->partial);
        EXPECT_EQ(c->length, file->size() - 2);
    }

    // A "SECd" in the image data before the directory is passed over.
    auto f = dp2;
    const char* text = "<Dummy image data>";
    auto at = std::search(f.begin(), f.end(), text, text + std::strlen(text));
    ASSERT_NE(at, f.end());
    std::memcpy(&*at, "SECd\0\0\x02\0\x01\0\0\0", 12);
    auto c = carveX3f(f);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, dp2.size());
    EXPECT_FALSE(c->partial);

    // The trailing offset or an entry overwritten: no end is found.
    f = concat(dp2, noise(2000, 8));
    f[dp2.size() - 4] ^= 0x10;
    c = carveX3f(f);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, f.size());
    f = concat(dp2, noise(2000, 8));
    f[4288 + 12 + 5] = 0xFF;  // the first entry's length runs into the directory
    c = carveX3f(f);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);

    // Headers that do not hold: version 9.x, no columns, a rotation of 45 degrees.
    const std::pair<size_t, uint8_t> breaks[] = {{6, 9}, {28, 0}, {36, 45}};
    for (const auto& [at, value] : breaks) {
        f = sd;
        f[at] = value;
        if (at == 28) f[29] = 0;
        EXPECT_FALSE(carveX3f(f)) << at;
    }
}

}  // namespace
}  // namespace kestrum::carve
