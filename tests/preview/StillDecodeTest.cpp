// Stills Qt cannot read: HEIF and AVIF through libheif, raws through the
// preview they hold; other bytes are refused.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "preview/StillDecode.h"

namespace kestrum {
namespace {

std::vector<uint8_t> dataFile(const char* name) {
    return test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/carve/" + name);
}

TEST(StillDecode, HeifAndAvifStillsAreDecodedToPixels) {
    for (const char* name : {"photo.heic", "photo.avif"}) {
        const auto bytes = dataFile(name);
        const auto still = decodeStill(bytes.data(), bytes.size());
        ASSERT_TRUE(still) << name;
        EXPECT_EQ(still->width, 64) << name;
        EXPECT_EQ(still->height, 48) << name;
        EXPECT_EQ(still->rgba.size(), 64u * 48 * 4) << name;
    }
    auto cut = dataFile("photo.heic");
    cut.resize(cut.size() / 3);  // the picture's coded data is gone
    EXPECT_FALSE(decodeStill(cut.data(), cut.size()));
    const auto png = test::readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/carve/png-palette.png");
    EXPECT_FALSE(decodeStill(png.data(), png.size()));
}

TEST(StillDecode, RawsGiveTheirStoredPreview) {
    const auto rw2 = test::sample("exiftool-Panasonic.rw2");
    if (rw2.empty()) GTEST_SKIP() << "no sample folder";
    const auto still = decodeStill(rw2.data(), rw2.size());
    ASSERT_TRUE(still);
    ASSERT_GT(still->encoded.size(), 2u);  // the camera's JPEG, as it is stored
    EXPECT_EQ(still->encoded[0], 0xFF);
    EXPECT_EQ(still->encoded[1], 0xD8);
    // The trimmed CR3 sample keeps its boxes but not its pictures: refused, not a crash.
    const auto cr3 = test::sample("exiftool-CanonRaw.cr3");
    EXPECT_FALSE(decodeStill(cr3.data(), cr3.size()));
}

}  // namespace
}  // namespace kestrum
