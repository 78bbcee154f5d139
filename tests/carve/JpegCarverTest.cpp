// JPEG carving: what the marker walk must not be fooled by, multi-picture files,
// motion photos, damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ImageCarveSupport.h"
#include "TestSupport.h"
#include "carve/JpegCarver.h"

namespace kestrum::carve {
namespace {

using test::carveBytes;
using test::dataFile;
using test::expectPartial;
using test::expectWhole;

const CarverEntry& jpeg() {
    return jpegCarver();
}

// Offset just past the first start-of-scan header.
size_t scanData(const std::vector<uint8_t>& f) {
    size_t p = 2;
    while (p + 4 <= f.size() && f[p] == 0xFF && f[p + 1] != 0xDA)
        p += 2 + (f[p + 2] << 8 | f[p + 3]);
    return p + 2 + (f[p + 2] << 8 | f[p + 3]);
}

TEST(JpegCarver, LargeCameraPictureIsMeasuredPastItsThumbnail) {
    kestrum::test::TempDir dir;
    const std::string big = dir.file("big.jpg");
    const std::string thumb = std::string(KESTRUM_TEST_DATA_DIR) + "/carve/jpeg-restart.jpg";
    if (kestrum::test::runCommand("convert -size 4200x2800 xc:gray +noise Random -quality 92 " +
                                  big +
                                  " && exiftool -q -overwrite_original -Make=Kestrum "
                                  "'-ThumbnailImage<=" +
                                  thumb + "' " + big) != 0)
        GTEST_SKIP() << "convert or exiftool failed";
    const auto file = kestrum::test::readFile(big);
    ASSERT_GT(file.size(), 8u << 20);
    // The thumbnail's end-of-image marker comes first.
    const uint8_t eoi[] = {0xFF, 0xD9};
    EXPECT_LT(std::search(file.begin(), file.end(), eoi, eoi + 2) - file.begin(), 65536);
    expectWhole(jpeg(), file, "JPEG", "8 MB camera picture");
}

// A multi-picture file made of two encoder pictures: the first gets an index
// (APP2 "MPF") naming the second, which follows its end of image.
std::vector<uint8_t> multiPicture(const std::vector<uint8_t>& first,
                                  const std::vector<uint8_t>& second) {
    std::vector<uint8_t> body = {'M', 'P', 'F', 0, 'M', 'M', 0, '*', 0, 0, 0, 8, 0, 3};
    auto be32 = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) body.push_back(static_cast<uint8_t>(v >> s));
    };
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        body.insert(body.end(), {uint8_t(tag >> 8), uint8_t(tag), 0, uint8_t(type)});
        be32(count);
        be32(value);
    };
    entry(0xB000, 7, 4, 0x30313030);
    entry(0xB001, 4, 1, 2);
    entry(0xB002, 7, 32, 50);  // the list right after this directory
    be32(0);
    const size_t firstSize = first.size() + 4 + body.size() + 32;
    const uint32_t base = 2 + 4 + 4;  // SOI, marker and length, "MPF\0"
    be32(0x20030000), be32(static_cast<uint32_t>(firstSize)), be32(0), be32(0);
    be32(0x00020002), be32(static_cast<uint32_t>(second.size())),
        be32(static_cast<uint32_t>(firstSize - base)), be32(0);
    std::vector<uint8_t> out(first.begin(), first.begin() + 2);
    const size_t length = body.size() + 2;
    out.insert(out.end(), {0xFF, 0xE2, uint8_t(length >> 8), uint8_t(length)});
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), first.begin() + 2, first.end());
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

TEST(JpegCarver, MultiPictureFilesAndMotionPhotosKeepWhatFollowsThePicture) {
    const auto second = dataFile("carve/jpeg-restart.jpg");
    const auto file = multiPicture(dataFile("carve/jpeg-camera.jpg"), second);
    const size_t firstEnd = file.size() - second.size();
    expectWhole(jpeg(), file, "JPEG", "multi-picture");
    auto lost = file;  // the second picture overwritten
    std::fill(lost.begin() + firstEnd, lost.end(), 0);
    expectPartial(jpeg(), lost, UINT64_MAX, firstEnd, "second picture lost");
    expectPartial(jpeg(), file, firstEnd + 1000, firstEnd + 1000, "cut in the second picture");

    const auto motion = dataFile("carve/jpeg-motion-photo.jpg");
    expectPartial(jpeg(), motion, motion.size() - 100, motion.size() - 100, "cut in the video");
    // Without the XMP's word for it, a video after a picture is another file.
    const auto video = dataFile("clip.mp4");
    auto plain = second;
    plain.insert(plain.end(), video.begin(), video.end());
    const auto c = carveBytes(jpeg(), plain);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->length, second.size());
}

TEST(JpegCarver, DamageGivesTheValidPrefix) {
    // Another picture's header written over the scan.
    const auto camera = dataFile("carve/jpeg-camera.jpg");
    const size_t at = scanData(camera) + 4000;
    auto over = camera;
    const uint8_t soi[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
    std::copy(soi, soi + sizeof soi, over.begin() + at);
    expectPartial(jpeg(), over, UINT64_MAX, at, "header over the scan");
    expectPartial(jpeg(), camera, 1000, 1000, "cut in the Exif block");
    // Cut off in the scan and followed by cleared or erased space (a ceiling of
    // a gigabyte must not become the length).
    size_t cut = scanData(camera) + 3000;
    while (camera[cut - 1] == 0 || camera[cut - 1] == 0xFF) ++cut;
    for (uint8_t fill : {0x00, 0xFF}) {
        std::vector<uint8_t> cleared(camera.begin(), camera.begin() + cut);
        cleared.resize(cut + (3 << 20), fill);
        expectPartial(jpeg(), cleared, UINT64_MAX, cut, "cut, then cleared space");
    }

    // A restart marker out of turn: the second one (D1) reads D2.
    auto restart = dataFile("carve/jpeg-restart.jpg");
    const uint8_t d1[] = {0xFF, 0xD1};
    const size_t rst = std::search(restart.begin() + scanData(restart), restart.end(), d1, d1 + 2) -
                       restart.begin();
    ASSERT_LT(rst, restart.size());
    restart[rst + 1] = 0xD2;
    expectPartial(jpeg(), restart, UINT64_MAX, rst, "restart out of turn");

    // A scan before any frame header breaks the walk after the tables.
    auto noFrame = dataFile("carve/jpeg-restart.jpg");
    const size_t sos = scanData(noFrame) - 14, sof = sos - 19;
    ASSERT_EQ(noFrame[sof + 1], 0xC0);
    noFrame[sof + 1] = 0xFE;  // the frame header becomes a comment
    expectPartial(jpeg(), noFrame, UINT64_MAX, sos, "no frame");
}

TEST(JpegCarver, BrokenFirstSegmentsAreRejected) {
    const auto file = dataFile("jpeg-dqt.jpg");
    auto table = file;  // a quantisation table of precision 5
    table[6] = 0x50;
    EXPECT_FALSE(carveBytes(jpeg(), table).has_value());
    auto huge = file;  // a first segment longer than everything there is
    huge[4] = 0xFF, huge[5] = 0xF0;
    EXPECT_FALSE(carveBytes(jpeg(), huge, 4000).has_value());
    std::vector<uint8_t> fill(1 << 20, 0xFF);  // fill bytes without end
    fill[1] = 0xD8;
    EXPECT_FALSE(carveBytes(jpeg(), fill).has_value());
    fill[3] = 0x00;
    EXPECT_FALSE(jpeg().quick(fill.data()));
}

}  // namespace
}  // namespace kestrum::carve
