// Photoshop carving: sections by their lengths, raw and run-length image data.
#include <gtest/gtest.h>

#include "ImageCarveSupport.h"
#include "carve/PsdCarver.h"

namespace kestrum::carve {
namespace {

using test::carveBytes;
using test::dataFile;
using test::randomBytes;

// Offset of the image data's compression field (PSD only).
size_t imageData(const std::vector<uint8_t>& f) {
    auto be32 = [&](size_t o) {
        return size_t{f[o]} << 24 | f[o + 1] << 16 | f[o + 2] << 8 | f[o + 3];
    };
    size_t p = 26;
    for (int section = 0; section < 3; ++section) p += 4 + be32(p);
    return p;
}

TEST(PsdCarver, EncoderFilesAndSamples) {
    for (const char* name :
         {"picture.psd", "carve/psd-layers.psd", "carve/psd-raw.psd", "carve/psd-big.psb"})
        test::expectWhole(psdCarver(), dataFile(name), "PSD", name);
    if (kestrum::test::samplesDir().empty()) GTEST_SKIP() << "no shared samples folder";
    // Ends with a Photo Mechanic trailer after the run-length image data.
    test::expectWhole(psdCarver(), kestrum::test::sample("exiftool-Photoshop.psd"), "PSD",
                      "Photoshop sample");
}

TEST(PsdCarver, DamageGivesTheValidPrefix) {
    const auto file = dataFile("carve/psd-layers.psd");
    const size_t data = imageData(file);
    ASSERT_EQ(file[data + 1], 1);  // run-length coded
    // Cut inside the row byte counts, and inside the layers.
    for (uint64_t limit : {uint64_t{data + 20}, uint64_t{2000}}) {
        const auto c = carveBytes(psdCarver(), file, limit);
        ASSERT_TRUE(c.has_value());
        EXPECT_TRUE(c->partial);
        EXPECT_EQ(c->length, limit);
    }
    // A compression method that does not exist: the layer length led astray.
    auto method = file;
    method[data + 1] = 9;
    auto c = carveBytes(psdCarver(), method);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, 26u + 4 + 4 + 28);
    // Deflate-coded image data: only its start is known.
    method[data + 1] = 2;
    c = carveBytes(psdCarver(), method);
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, data + 2);
}

TEST(PsdCarver, LookAlikesAreRejected) {
    const auto file = dataFile("picture.psd");
    auto resource = file;  // the first resource's signature overwritten
    resource[26 + 4 + 4] = 'X';
    EXPECT_FALSE(carveBytes(psdCarver(), resource).has_value());
    auto channels = file;
    channels[13] = 60;
    EXPECT_FALSE(carveBytes(psdCarver(), channels).has_value());
    auto depth = file;
    depth[23] = 7;
    EXPECT_FALSE(carveBytes(psdCarver(), depth).has_value());
    for (unsigned seed = 0; seed < 50; ++seed) {
        auto b = randomBytes(2048, seed);
        std::copy(file.begin(), file.begin() + 26, b.begin());  // a valid header only
        EXPECT_FALSE(carveBytes(psdCarver(), b).has_value());
    }
}

}  // namespace
}  // namespace kestrum::carve
