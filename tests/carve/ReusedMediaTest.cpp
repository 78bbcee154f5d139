// The thorough scan with the real carvers on a reused medium: a file whose tail
// newer files overwrote must not hide them, and a recording cut by power loss
// ends where its data does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../scan/MemorySource.h"
#include "TestSupport.h"
#include "VideoCarve.h"
#include "filetypes/Catalogue.h"
#include "scan/ThoroughDetector.h"

namespace kestrum::carve {
namespace {

using test::MemorySource;
using videotest::Bytes;
using videotest::media;

class StopPage : public ResultsPage {
public:
    void selectFirstTypeOnStop() override {}
};

std::vector<FileInfo> scanAll(const Bytes& image) {
    std::vector<SelectedType> rows;
    for (const CarverEntry& c : carvers())
        for (std::string_view t : c.types) rows.push_back({std::string(t), "250000"});
    TypeList types = buildSelection(rows, true);
    MemorySource source(image);
    FoundFileList found;
    std::atomic<uint8_t> stop{0};
    StopPage page;
    const ScanJob job{
        types, found, source, 0, image.size() / 512, stop, page, [](FileInfo) { return 1; }};
    EXPECT_EQ(runThoroughScan(job), 0);
    return found.snapshot();
}

void put(Bytes& image, uint64_t sector, const Bytes& file) {
    if (image.size() < sector * 512 + file.size()) image.resize(sector * 512 + file.size());
    std::copy(file.begin(), file.end(), image.begin() + static_cast<ptrdiff_t>(sector * 512));
}

const FileInfo* at(const std::vector<FileInfo>& files, uint64_t sector) {
    for (const FileInfo& f : files)
        if (f.startSector == sector) return &f;
    return nullptr;
}

struct Case {
    const char* broken;  // written first, then its tail overwritten
    const char* intact;  // the newer file written over that tail
};

class BrokenThenIntact : public testing::TestWithParam<Case> {};

// The old file is written whole at sector 8, the newer one over its second half
// (its size fields and index still claim those sectors), then the rest of the
// old tail stays behind the newer file, as on a card shot full again.
TEST_P(BrokenThenIntact, TheNewerFileIsListedWholeAtItsSector) {
    const Bytes old = media(std::string("carve/") + GetParam().broken);
    const Bytes newer = media(std::string("carve/") + GetParam().intact);
    ASSERT_GE(old.size(), 1024u);
    const uint64_t overwrite = 8 + std::max<uint64_t>(1, old.size() / 512 / 2);
    Bytes image(64 * 512, 0);
    put(image, 8, old);
    put(image, overwrite, newer);
    image.resize((image.size() / 512 + 16) * 512);
    const std::vector<FileInfo> files = scanAll(image);
    const FileInfo* y = at(files, overwrite);
    ASSERT_NE(y, nullptr) << "nothing listed at the newer file's sector";
    EXPECT_EQ(y->byteLength, newer.size());
    EXPECT_FALSE(y->partial);
    // The old one, when found, is never claimed whole across the newer file.
    if (const FileInfo* x = at(files, 8))
        EXPECT_TRUE(x->partial || 8 * 512 + x->byteLength <= overwrite * 512) << x->fileName;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFamily, BrokenThenIntact,
    testing::Values(
        Case{"jpeg-camera.jpg", "jpeg-progressive.jpg"},
        Case{"jpeg-camera.jpg", "mp3-vbr.mp3"},  // frame syncs are no JPEG segments
        Case{"jpeg-restart.jpg", "wav-list.wav"},
        Case{"png-interlaced16.png", "jpeg-progressive.jpg"},
        Case{"gif-animated.gif", "jpeg-progressive.jpg"},
        Case{"bmp-v5-alpha.bmp", "jpeg-progressive.jpg"},
        Case{"tiff-strips-le.tif", "jpeg-progressive.jpg"},
        Case{"tiff-dng.tif", "jpeg-progressive.jpg"}, Case{"tiff-cfa.tif", "png-palette.png"},
        Case{"psd-layers.psd", "jpeg-progressive.jpg"},
        Case{"jp2-codestream.j2k", "jpeg-progressive.jpg"},
        Case{"clip-faststart.mp4", "jpeg-progressive.jpg"},
        Case{"clip-faststart.mov", "jpeg-progressive.jpg"},
        Case{"clip.3gp", "jpeg-progressive.jpg"},
        Case{"clip-fragmented.mp4", "jpeg-progressive.jpg"},
        Case{"clip-pipe.mkv", "jpeg-progressive.jpg"}, Case{"clip.webm", "jpeg-progressive.jpg"},
        Case{"clip-xvid.avi", "jpeg-progressive.jpg"}, Case{"wav-list.wav", "jpeg-progressive.jpg"},
        Case{"clip-dvd.vob", "jpeg-progressive.jpg"},
        Case{"clip-theora.ogg", "jpeg-progressive.jpg"}, Case{"tone.aifc", "jpeg-progressive.jpg"},
        Case{"au-pipe.au", "jpeg-progressive.jpg"}, Case{"mp3-id3v1.mp3", "jpeg-progressive.jpg"},
        Case{"mp3-bare.mp3", "png-palette.png"}, Case{"tone.mp2", "jpeg-progressive.jpg"},
        Case{"tone.m4a", "jpeg-progressive.jpg"},
        Case{"mp3-vbr.mp3", "mp3-bare.mp3"}),  // two headerless streams
    [](const testing::TestParamInfo<Case>& info) {
        std::string name = std::string(info.param.broken) + "_then_" + info.param.intact;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

// A camera recording cut by power loss: an mdat of size 0 and no movie box. It
// ends before the photo shot after it, and, with nothing after it, after its
// last sector of data instead of at the size ceiling.
TEST(ReusedMedia, AnUnfinishedRecordingEndsWhereItsDataEnds) {
    const Bytes mov = media("carve/clip-faststart.mp4");
    const Bytes photo = media("carve/jpeg-progressive.jpg");
    Bytes rec(mov.begin(), mov.begin() + 32);  // the ftyp box
    ASSERT_EQ(std::string(rec.begin() + 4, rec.begin() + 8), "ftyp");
    rec.resize(rec[3]);
    const Bytes mdat{0, 0, 0, 0, 'm', 'd', 'a', 't'};
    rec.insert(rec.end(), mdat.begin(), mdat.end());
    const Bytes samples = videotest::randomBytes(56 * 512 - 100 - rec.size());
    rec.insert(rec.end(), samples.begin(), samples.end());

    Bytes image(4 * 512, 0);
    put(image, 4, rec);
    put(image, 60, photo);
    image.resize(200 * 512);
    std::vector<FileInfo> files = scanAll(image);
    const FileInfo* r = at(files, 4);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->partial);
    EXPECT_EQ(r->byteLength, 56u * 512);
    const FileInfo* p = at(files, 60);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->byteLength, photo.size());

    // Erased space between it and the photo: it ends with its last sector of data.
    image.assign(image.size(), 0);
    put(image, 4, Bytes(rec.begin(), rec.begin() + 30 * 512));
    put(image, 60, photo);
    files = scanAll(image);
    ASSERT_NE(at(files, 4), nullptr);
    EXPECT_EQ(at(files, 4)->byteLength, 30u * 512);
    ASSERT_NE(at(files, 60), nullptr);

    // Nothing after it: it ends with its last sector of data.
    image.assign(image.size(), 0);
    put(image, 4, rec);
    files = scanAll(image);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].byteLength, 56u * 512);
    EXPECT_TRUE(files[0].partial);
}

// Two-piece files on a card: the scan joins a picture or a movie split around
// another file, keeps the file between listed, and never lists whole a picture
// that holds another's piece.
Bytes encoded(const std::string& command, const std::string& name) {
    kestrum::test::TempDir dir;
    const std::string path = dir.file(name);
    if (kestrum::test::runCommand(command + " " + path) != 0) return {};
    return kestrum::test::readFile(path);
}

Bytes plasma(int seed) {
    return encoded(
        "convert -seed " + std::to_string(seed) + " -size 900x700 plasma:fractal -quality 92",
        "p.jpg");
}

// What a saved copy holds: the file's extents, as saving reads them.
Bytes copyOf(const Bytes& image, const FileInfo& f) {
    Bytes out;
    const FileExtents e = fileExtents(f);
    for (int i = 0; i < e.count; ++i) {
        const auto from = image.begin() + static_cast<ptrdiff_t>(e.piece[i].startSector * 512);
        out.insert(out.end(), from, from + static_cast<ptrdiff_t>(e.piece[i].bytes));
    }
    return out;
}

uint64_t halfSectors(const Bytes& f) {
    return f.size() / 512 / 2;
}

// A1 X A2, the pieces a cluster apart from X as FAT leaves them.
TEST(ReusedMediaJoins, APictureOrMovieSplitAroundAnotherFileIsJoined) {
    const Bytes photo = plasma(1), between = plasma(2);
    const Bytes movie = encoded(
        "ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=440 -t 2 -c:v libx264 -pix_fmt yuv420p -b:v 1M -g 25 -c:a aac "
        "-shortest -movflags +faststart",
        "v.mp4");
    if (photo.empty() || between.empty() || movie.empty())
        GTEST_SKIP() << "ImageMagick convert or ffmpeg failed";
    for (const Bytes* a : {&photo, &movie}) {
        SCOPED_TRACE(a == &photo ? "JPEG" : "MP4");
        const uint64_t split = halfSectors(*a), x = 8 + split;
        const uint64_t second = x + (between.size() + 511) / 512 + 8;
        Bytes image;
        put(image, 8, Bytes(a->begin(), a->begin() + static_cast<ptrdiff_t>(split * 512)));
        put(image, x, between);
        put(image, second, Bytes(a->begin() + static_cast<ptrdiff_t>(split * 512), a->end()));
        image.resize((image.size() / 512 + 16) * 512);
        const std::vector<FileInfo> files = scanAll(image);
        const FileInfo* joined = at(files, 8);
        ASSERT_NE(joined, nullptr);
        EXPECT_TRUE(isJoined(*joined));
        EXPECT_FALSE(joined->partial);
        EXPECT_EQ(joined->joinSector, second);
        EXPECT_TRUE(copyOf(image, *joined) == *a) << "the joined copy differs";
        const FileInfo* x1 = at(files, x);
        ASSERT_NE(x1, nullptr) << "the file between the pieces is lost";
        EXPECT_FALSE(x1->partial);
        EXPECT_TRUE(copyOf(image, *x1) == between);
    }
}

// A1 B1 A2 B2: B1 + A2 is a structurally whole JPEG that does not decode.
TEST(ReusedMediaJoins, PicturesWrittenInterleavedAreNeverListedWholeUnlessTheyDecode) {
    const Bytes a = plasma(3), b = plasma(4);
    if (a.empty() || b.empty()) GTEST_SKIP() << "ImageMagick convert failed";
    const uint64_t ha = halfSectors(a), hb = halfSectors(b);
    const uint64_t sa = 8, sb = sa + ha, a2 = sb + hb, b2 = a2 + (a.size() + 511) / 512 - ha;
    Bytes image;
    put(image, sa, Bytes(a.begin(), a.begin() + static_cast<ptrdiff_t>(ha * 512)));
    put(image, sb, Bytes(b.begin(), b.begin() + static_cast<ptrdiff_t>(hb * 512)));
    put(image, a2, Bytes(a.begin() + static_cast<ptrdiff_t>(ha * 512), a.end()));
    put(image, b2, Bytes(b.begin() + static_cast<ptrdiff_t>(hb * 512), b.end()));
    image.resize((image.size() / 512 + 16) * 512);
    const std::vector<FileInfo> files = scanAll(image);
    for (const FileInfo& f : files)
        if (!f.partial) {
            const Bytes copy = copyOf(image, f);
            EXPECT_TRUE(copy == a || copy == b) << f.fileName << " is listed whole but is neither";
        }
    // Both are rebuilt: A from inside the sectors B1 + A2 seemed to take.
    const FileInfo* fa = at(files, sa);
    const FileInfo* fb = at(files, sb);
    ASSERT_TRUE(fa && fb);
    EXPECT_TRUE(copyOf(image, *fa) == a);
    EXPECT_TRUE(copyOf(image, *fb) == b);
}

// A WebP picture's coded data is checked by nothing: a newer file written over
// its tail ends it there.
TEST(ReusedMedia, AWebpPictureEndsWhereANewerFileBegins) {
    kestrum::test::TempDir dir;
    const std::string png = dir.file("p.png"), webp = dir.file("p.webp");
    if (kestrum::test::runCommand("convert -seed 5 -size 600x400 plasma:fractal " + png) != 0 ||
        kestrum::test::runCommand("cwebp -quiet -q 90 " + png + " -o " + webp) != 0)
        GTEST_SKIP() << "ImageMagick convert or cwebp failed";
    const Bytes old = kestrum::test::readFile(webp);
    const Bytes newer = media("carve/png-palette.png");
    ASSERT_GT(old.size(), 8 * 512u);
    const uint64_t overwrite = 8 + old.size() / 512 / 2;
    Bytes image;
    put(image, 8, old);
    put(image, overwrite, newer);
    image.resize((image.size() / 512 + 16) * 512);
    const std::vector<FileInfo> files = scanAll(image);
    const FileInfo* y = at(files, overwrite);
    ASSERT_NE(y, nullptr) << "nothing listed at the newer file's sector";
    EXPECT_EQ(y->byteLength, newer.size());
    const FileInfo* x = at(files, 8);
    ASSERT_NE(x, nullptr);
    EXPECT_TRUE(x->partial);
    EXPECT_EQ(x->byteLength, (overwrite - 8) * 512);
}

}  // namespace
}  // namespace kestrum::carve
