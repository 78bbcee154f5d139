// Two-piece files rebuilt from images of encoder files laid out the way a FAT
// card fragments them, and the bytes kept after a picture's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "ImageCarveSupport.h"
#include "TestSupport.h"
#include "carve/Join.h"
#include "carve/JpegCarver.h"

namespace kestrum::carve {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t kSector = 512;

// A picture from ImageMagick: a plasma of the given seed, some 100-300 KB.
Bytes encoderJpeg(const std::string& size, int seed, const std::string& extra = "",
                  int quality = 92) {
    kestrum::test::TempDir dir;
    const std::string path = dir.file("p.jpg");
    if (kestrum::test::runCommand("convert -seed " + std::to_string(seed) + " -size " + size +
                                  " plasma:fractal " + extra + " -quality " +
                                  std::to_string(quality) + " " + path) != 0)
        return {};
    return kestrum::test::readFile(path);
}

// A medium built piece by piece, each piece starting at a sector.
struct Image {
    Bytes bytes = Bytes(8 * kSector, 0);
    uint64_t put(const Bytes& b, size_t from = 0, size_t to = SIZE_MAX) {
        const uint64_t sector = bytes.size() / kSector;
        to = std::min(to, b.size());
        bytes.insert(bytes.end(), b.begin() + from, b.begin() + to);
        bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, 0);
        return sector;
    }
    // The bytes a copy of the joined file reads.
    Bytes read(uint64_t start, const Joined& j) const {
        const size_t a = start * kSector, c = j.joinSector * kSector;
        Bytes out(bytes.begin() + a, bytes.begin() + a + j.firstPieceBytes);
        out.insert(out.end(), bytes.begin() + c,
                   bytes.begin() + c + (j.length - j.firstPieceBytes));
        return out;
    }
};

uint64_t partialLength(const Image& img, uint64_t sector) {
    MemoryReader r(img.bytes.data() + sector * kSector, img.bytes.size() - sector * kSector);
    const auto c = jpegCarver().carve(r);
    EXPECT_TRUE(c && c->partial);
    return c ? c->length : 0;
}

class JpegJoin : public ::testing::Test {
protected:
    void SetUp() override {
        a = encoderJpeg("900x700", 1);
        b = encoderJpeg("900x700", 2);
        if (a.empty() || b.empty()) GTEST_SKIP() << "ImageMagick convert failed";
        ASSERT_GT(a.size(), 100000u);
    }
    size_t half(const Bytes& f) const { return f.size() / 2 / kSector * kSector; }
    Bytes a, b;
};

TEST_F(JpegJoin, PictureSplitAroundAnotherIsRebuiltByteExact) {
    const Bytes noise = test::randomBytes(70000, 9);
    for (const bool jpegBetween : {true, false}) {
        SCOPED_TRACE(jpegBetween ? "a JPEG between" : "random bytes between");
        Image img;
        const uint64_t s = img.put(a, 0, half(a));
        const uint64_t x = img.put(jpegBetween ? b : noise);
        const uint64_t resume = img.bytes.size() / kSector + 3;  // slack after the inserted file
        img.bytes.resize(resume * kSector, 0);
        img.put(a, half(a));
        img.put(test::randomBytes(100000, 3));
        MemoryReader medium(img.bytes.data(), img.bytes.size());
        const uint64_t p = partialLength(img, s);
        if (jpegBetween) {
            EXPECT_EQ(p, half(a));
        }
        for (const uint64_t hint : {x, uint64_t{0}}) {
            SCOPED_TRACE(hint ? "told where the inserted file starts" : "not told");
            JoinRequest q;
            q.startSector = s;
            q.breakAt = p;
            q.resumeSector = x + 1;  // the search walks over the rest of the inserted file
            q.pieceEndHint = hint;
            const SectorSpan measured[] = {{x, resume - x}};
            if (jpegBetween) q.taken = measured;
            const auto j = joinJpeg(medium, q);
            ASSERT_TRUE(j.has_value());
            EXPECT_EQ(j->firstPieceBytes, half(a));
            EXPECT_EQ(j->joinSector, resume);
            EXPECT_EQ(img.read(s, *j), a);
        }
    }
}

TEST_F(JpegJoin, ContinuationInsideAFlatAreaIsFound) {
    // Under optimised tables a flat black area codes as zero bytes.
    const Bytes flat = encoderJpeg("1600x1200", 3,
                                   "-blur 0x1 \\( -size 1600x1200 xc:none -fill black "
                                   "-draw 'rectangle 0,600 1600,1200' \\) -composite",
                                   90);
    ASSERT_FALSE(flat.empty());
    size_t cut = flat.size() / kSector * kSector;
    while (cut > 2 * kSector && !std::all_of(flat.begin() + cut - kSector, flat.begin() + cut,
                                             [](uint8_t v) { return v == 0; }))
        cut -= kSector;
    cut -= kSector;  // the continuation opens with a sector of zeros
    ASSERT_GT(cut, flat.size() / 2);
    Image img;
    const uint64_t s = img.put(flat, 0, cut);
    const uint64_t x = img.put(b);
    const uint64_t resume = img.put(flat, cut);
    MemoryReader medium(img.bytes.data(), img.bytes.size());
    const auto j = joinJpeg(medium, {s, partialLength(img, s), resume, x});
    ASSERT_TRUE(j.has_value());
    EXPECT_EQ(img.read(s, *j), flat);

    // The scan's allowance for join decodes: what a search decodes is counted,
    // and a spent allowance refuses to decode at all.
    uint64_t decoded = 0;
    EXPECT_TRUE(joinJpeg(medium, {s, partialLength(img, s), resume, x, {}, &decoded}));
    EXPECT_GE(decoded, flat.size());
    EXPECT_FALSE(joinJpeg(medium, {s, partialLength(img, s), resume, x, {}, &decoded, decoded}));
}

TEST_F(JpegJoin, ContinuationThatDoesNotDecodeIsRefused) {
    // The second half of another picture from the same encoder and settings, and
    // the right half with a few bytes overwritten.
    Bytes damaged(a.begin() + half(a), a.end());
    for (size_t k = 0; k < 8; ++k) damaged[damaged.size() / 3 + k * 977] ^= 0x5A;
    for (const Bytes& continuation : {Bytes(b.begin() + half(b), b.end()), damaged}) {
        Image img;
        const uint64_t s = img.put(a, 0, half(a));
        const uint64_t x = img.put(test::randomBytes(20000, 4));
        const uint64_t resume = img.put(continuation);
        MemoryReader medium(img.bytes.data(), img.bytes.size());
        JoinRequest q{s, partialLength(img, s), resume, x};
        EXPECT_FALSE(joinJpeg(medium, q).has_value());
    }
}

TEST_F(JpegJoin, InterleavedPicturesAreNotWholeAndEachJoinsItsOwnHalf) {
    Image img;
    const uint64_t a1 = img.put(a, 0, half(a));
    const uint64_t b1 = img.put(b, 0, half(b));
    const uint64_t a2 = img.put(a, half(a));
    const uint64_t b2 = img.put(b, half(b));
    MemoryReader medium(img.bytes.data(), img.bytes.size());

    // B1 + A2 walks as a whole picture, but does not decode.
    MemoryReader fromB(img.bytes.data() + b1 * kSector, img.bytes.size() - b1 * kSector);
    const auto carvedB = jpegCarver().carve(fromB);
    ASSERT_TRUE(carvedB.has_value());
    EXPECT_FALSE(carvedB->partial);
    MemoryReader measuredB(img.bytes.data() + b1 * kSector, carvedB->length);
    const JpegDecode d = decodeJpeg(measuredB);
    EXPECT_FALSE(d.clean);
    EXPECT_TRUE(d.supported);
    EXPECT_GT(d.troubleAt, half(b));
    MemoryReader wholeA(a.data(), a.size());
    EXPECT_TRUE(decodeJpeg(wholeA).clean);
    EXPECT_EQ(decodeJpeg(wholeA).end, a.size());

    // B's sectors are unchecked: A's continuation is looked for inside them.
    const auto ja = joinJpeg(medium, {a1, partialLength(img, a1), b1 + 1, b1});
    ASSERT_TRUE(ja.has_value());
    EXPECT_EQ(ja->joinSector, a2);
    EXPECT_EQ(img.read(a1, *ja), a);
    // A2 taken, B ends where it starts and joins after it.
    const SectorSpan taken[] = {{a2, b2 - a2}};
    JoinRequest qb{b1, (a2 - b1) * kSector, a2, a2, taken};
    const auto jb = joinJpeg(medium, qb);
    ASSERT_TRUE(jb.has_value());
    EXPECT_EQ(jb->joinSector, b2);
    EXPECT_EQ(img.read(b1, *jb), b);
}

TEST(JpegTrailer, PictureAtTheNextByteBelongsToTheFileOneAtASectorStartDoesNot) {
    const Bytes main = encoderJpeg("300x200", 5), preview = encoderJpeg("160x120", 6);
    if (main.empty() || preview.empty()) GTEST_SKIP() << "ImageMagick convert failed";
    ASSERT_NE(main.size() % kSector, 0u);
    Bytes file = main;
    file.insert(file.end(), preview.begin(), preview.end());
    const Bytes tail = test::randomBytes(5000, 7);
    file.insert(file.end(), tail.begin(), tail.end());
    MemoryReader r(file.data(), file.size());
    EXPECT_EQ(jpegTrailerEnd(r, main.size()), main.size() + preview.size());

    // The same picture ending on a sector boundary (a comment pads it).
    Bytes padded(main.begin(), main.begin() + 2);
    const size_t pad = kSector - (main.size() + 4) % kSector;
    padded.insert(padded.end(), {0xFF, 0xFE, uint8_t((pad + 2) >> 8), uint8_t(pad + 2)});
    padded.resize(padded.size() + pad, 'x');
    padded.insert(padded.end(), main.begin() + 2, main.end());
    ASSERT_EQ(padded.size() % kSector, 0u);
    const size_t end = padded.size();
    padded.insert(padded.end(), preview.begin(), preview.end());
    MemoryReader aligned(padded.data(), padded.size());
    EXPECT_EQ(jpegTrailerEnd(aligned, end), end);

    // A broken picture after the end is not kept.
    Bytes cut(main.begin(), main.end());
    cut.insert(cut.end(), preview.begin(), preview.begin() + preview.size() / 2);
    MemoryReader half(cut.data(), cut.size());
    EXPECT_EQ(jpegTrailerEnd(half, main.size()), main.size());
}

// The picture given an Exif block whose maker note (an IFD, as Minolta writes
// it) places a preview of `previewBytes` at `previewAt` (from the file's start).
Bytes withMakerPreview(const Bytes& main, uint32_t previewAt, uint32_t previewBytes) {
    Bytes tiff = {'M', 'M', 0, '*', 0, 0, 0, 8};
    auto be = [&](uint32_t v, int n) {
        for (int k = n - 1; k >= 0; --k) tiff.push_back(uint8_t(v >> (8 * k)));
    };
    auto ifd = [&](std::initializer_list<std::array<uint32_t, 4>> entries) {
        be(uint32_t(entries.size()), 2);
        for (const auto& e : entries) be(e[0], 2), be(e[1], 2), be(e[2], 4), be(e[3], 4);
        be(0, 4);
    };
    const uint32_t tiffAt = 12;  // SOI, APP1 marker and length, "Exif\0\0"
    ifd({{0x8769, 4, 1, 26}});
    ifd({{0x927C, 7, 30, 44}});
    ifd({{0x0088, 4, 1, previewAt - tiffAt}, {0x0089, 4, 1, previewBytes}});
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE1, 0, uint8_t(tiff.size() + 8), 'E', 'x', 'i', 'f', 0, 0};
    out.insert(out.end(), tiff.begin(), tiff.end());
    out.insert(out.end(), main.begin() + 2, main.end());
    return out;
}

TEST(JpegTrailer, PreviewTheMakerNotePlacesAfterTheEndIsKept) {
    const Bytes main = encoderJpeg("300x200", 5), preview = encoderJpeg("160x120", 6);
    if (main.empty() || preview.empty()) GTEST_SKIP() << "ImageMagick convert failed";
    const uint32_t eoiEnd = uint32_t(main.size() + 84), previewAt = eoiEnd + 100;
    for (const uint32_t pointsAt : {previewAt, previewAt + 1}) {
        Bytes file = withMakerPreview(main, pointsAt, uint32_t(preview.size()));
        ASSERT_EQ(file.size(), eoiEnd);
        file.resize(previewAt, 0);
        file.insert(file.end(), preview.begin(), preview.end());
        MemoryReader r(file.data(), file.size());
        EXPECT_EQ(jpegTrailerEnd(r, eoiEnd), pointsAt == previewAt ? file.size() : eoiEnd);
    }
}

// A faststart MP4 from ffmpeg (H.264 or HEVC video and AAC audio, the sample
// table in front of the media data).
Bytes encoderMp4(const std::string& source, const std::string& codec) {
    kestrum::test::TempDir dir;
    const std::string path = dir.file("v.mp4");
    if (kestrum::test::runCommand("ffmpeg -v error -f lavfi -i " + source +
                                  " -f lavfi -i sine=frequency=440 -t 2 -c:v " + codec +
                                  " -pix_fmt yuv420p -b:v 1M -g 25 "
                                  "-c:a aac -shortest -movflags +faststart " +
                                  path) != 0)
        return {};
    return kestrum::test::readFile(path);
}

class Mp4Joins : public ::testing::TestWithParam<const char*> {};

TEST_P(Mp4Joins, FaststartFileSplitByAPictureIsRebuiltByteExact) {
    const Bytes mp4 = encoderMp4("testsrc2=size=320x240:rate=25", GetParam());
    const Bytes other = encoderMp4("mandelbrot=size=320x240:rate=25", GetParam());
    const Bytes picture = encoderJpeg("400x300", 3);
    if (mp4.empty() || other.empty() || picture.empty()) GTEST_SKIP() << "ffmpeg or convert failed";
    const size_t cut = mp4.size() / 2 / kSector * kSector;

    Image alone;
    const uint64_t at = alone.put(mp4);
    MemoryReader intact(alone.bytes.data(), alone.bytes.size());
    const Mp4Join whole = checkMp4Join(intact, {at});
    EXPECT_EQ(whole.kind, Mp4Join::Kind::kIntact);
    EXPECT_GE(whole.checkedSamples, 50);  // every video frame

    for (const int slack : {0, 3}) {
        SCOPED_TRACE("slack sectors after the picture: " + std::to_string(slack));
        Image img;
        const uint64_t s = img.put(mp4, 0, cut);
        const uint64_t x = img.put(picture);
        const uint64_t end = img.bytes.size() / kSector;
        img.bytes.resize((end + slack) * kSector, 0);
        const uint64_t resume = img.put(mp4, cut);
        img.put(test::randomBytes(30000, 1));
        MemoryReader medium(img.bytes.data(), img.bytes.size());

        const Mp4Join broken = checkMp4Join(medium, {s});
        EXPECT_EQ(broken.kind, Mp4Join::Kind::kBroken);
        EXPECT_GE(broken.breakAt, cut);
        // Told where the picture starts, the join is exact whatever lies after
        // it; not told, the continuation is taken as near the picture's end as
        // the samples allow.
        for (const uint64_t hint : {x, slack == 0 ? uint64_t{0} : x}) {
            const Mp4Join j = checkMp4Join(medium, {s, 0, end, hint});
            ASSERT_EQ(j.kind, Mp4Join::Kind::kJoined);
            EXPECT_EQ(j.join.firstPieceBytes, cut);
            EXPECT_EQ(j.join.joinSector, resume);
            EXPECT_EQ(img.read(s, j.join), mp4);
        }
    }

    // Another recording's media data where the rest should be.
    Image wrong;
    const uint64_t s = wrong.put(mp4, 0, cut);
    const uint64_t x = wrong.put(picture);
    const uint64_t end = wrong.put(other, other.size() / 2 / kSector * kSector);
    MemoryReader medium(wrong.bytes.data(), wrong.bytes.size());
    EXPECT_EQ(checkMp4Join(medium, {s, 0, end, x}).kind, Mp4Join::Kind::kBroken);
    EXPECT_EQ(checkMp4Join(medium, {s, 0, end}).kind, Mp4Join::Kind::kBroken);
}

INSTANTIATE_TEST_SUITE_P(Codecs, Mp4Joins,
                         ::testing::Values("libx264",
                                           "libx265 -x265-params log-level=none -tag:v hvc1"));

}  // namespace
}  // namespace kestrum::carve
