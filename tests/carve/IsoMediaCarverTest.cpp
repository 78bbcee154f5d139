// ISO base media / QuickTime carving: brands to types, box walks to exact lengths.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "VideoCarve.h"
#include "carve/IsoMediaCarver.h"

namespace kestrum::carve {
namespace {

using namespace videotest;

const CarverEntry& iso() {
    return isoMediaCarver();
}

void putBe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

Bytes box(const char* type, Bytes payload) {
    Bytes b(8);
    putBe32(b, 0, static_cast<uint32_t>(payload.size() + 8));
    std::memcpy(b.data() + 4, type, 4);
    return concat(b, payload);
}

TEST(IsoMediaCarver, EncoderFilesAreMeasuredExactlyAndClassedByBrand) {
    const std::map<std::string, std::string_view> files = {
        {"clip.mp4", "MP4"},
        {"clip-mp42.mp4", "MP4"},
        {"clip.mov", "MOV"},
        {"clip-classic.mov", "MOV"},  // QuickTime without ftyp
        {"clip.m4v", "M4V"},
        {"clip.3g2", "3G2"},
        {"carve/clip.3gp", "3GP"},
        {"carve/tone.m4a", "M4A"},
        {"carve/clip-faststart.mp4", "MP4"},
        {"carve/clip-faststart.mov", "MOV"},
        {"carve/clip-fragmented.mp4", "MP4"},
    };
    for (const auto& [name, type] : files)
        expectWholeInEverySurrounding(iso(), media(name), type, name);
}

TEST(IsoMediaCarver, RealQuickTimeSample) {
    const Bytes mov = test::sample("exiftool-QuickTime.mov");
    if (mov.empty()) GTEST_SKIP() << "no sample folder";
    expectWholeInEverySurrounding(iso(), mov, "MOV", "exiftool-QuickTime.mov");
}

TEST(IsoMediaCarver, PhoneAndCameraBrandsNameTheirTypes) {
    expectWholeInEverySurrounding(iso(), media("carve/photo.heic"), "HEIC", "heif-enc HEIC");
    expectWholeInEverySurrounding(iso(), media("carve/photo.avif"), "AVIF", "heif-enc AVIF");
    const Bytes m4a = media("carve/tone-aac.m4a");
    expectWholeInEverySurrounding(iso(), m4a, "M4A", "ffmpeg M4A");
    // A sound-only movie under a generic brand is audio too; a movie with a
    // video track stays MP4.
    Bytes isom = m4a;
    std::memcpy(isom.data() + 8, "isom", 4);
    expectWholeInEverySurrounding(iso(), isom, "M4A", "isom sound only");
    expectWholeInEverySurrounding(iso(), media("clip.mp4"), "MP4", "isom with video");

    const Bytes heic = media("carve/photo.heic");
    const auto cut = carveBytes(iso(), heic, 100);  // the limit cuts the meta box
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->type, "HEIC");
    EXPECT_TRUE(cut->partial);
    EXPECT_EQ(cut->length, 100u);

    struct Sample {
        const char* name;
        std::string_view type;
    };
    for (const Sample& s :
         {Sample{"exiftool-QuickTime.heic", "HEIC"}, Sample{"exiftool-QuickTime.m4a", "M4A"},
          Sample{"exiftool-CanonRaw.cr3", "CR3"}}) {
        const Bytes b = test::sample(s.name);
        if (b.empty()) GTEST_SKIP() << "no sample folder";
        const auto c = carveBytes(iso(), concat(b, Bytes(4096, 0)));
        ASSERT_TRUE(c) << s.name;
        EXPECT_EQ(c->type, s.type) << s.name;
        EXPECT_EQ(c->length, b.size()) << s.name;
    }
}

TEST(IsoMediaCarver, CutOrOverwrittenFilesKeepTheirValidPrefix) {
    // clip.mp4: ftyp 28, free 8, mdat 1346 (ends at 1382), moov to 2221.
    const Bytes mp4 = media("clip.mp4");
    ASSERT_EQ(mp4.size(), 2221u);
    auto c = carveBytes(iso(), mp4, 1000);  // the limit cuts the media data
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 1000u);
    EXPECT_TRUE(c->partial);

    c = carveBytes(iso(), mp4, 1500);  // cut inside the movie box
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 1500u);
    EXPECT_TRUE(c->partial);

    Bytes overwritten = mp4;  // the movie box overwritten by zeros: no moov
    std::fill(overwritten.begin() + 1382, overwritten.end(), 0);
    c = carveBytes(iso(), overwritten);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 1382u);
    EXPECT_TRUE(c->partial);

    Bytes badMoov = mp4;  // a moov header over bytes that hold no box
    std::fill(badMoov.begin() + 1390, badMoov.begin() + 1398, 0);
    c = carveBytes(iso(), badMoov);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 1382u);
    EXPECT_TRUE(c->partial);

    // A box size past the end of a small medium: partial at the limit.
    Bytes huge = mp4;
    putBe32(huge, 36, 0xFFFFFFF0u);
    c = carveBytes(iso(), huge);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, mp4.size());
    EXPECT_TRUE(c->partial);
}

TEST(IsoMediaCarver, FastStartAndLargeSizeAndToTheEndBoxes) {
    // A phone-style movie: ftyp, wide, mdat with a 64-bit size, moov at the end.
    const Bytes mov = media("clip.mov");  // ftyp 20, wide 8, mdat 1346, moov
    Bytes phone(mov.begin(), mov.begin() + 20);
    Bytes mdat = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0x05, 0x4A};  // 1346 + 8
    phone = concat(phone, mdat);
    phone.insert(phone.end(), mov.begin() + 36, mov.end());  // mdat payload and moov
    const auto c = carveBytes(iso(), concat(phone, randomBytes(3000)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, phone.size());
    EXPECT_FALSE(c->partial);

    // An mdat of size 0 runs on to where its data stops, which only the scan can
    // tell: measured to the end of the medium, partial, its samples unchecked.
    Bytes moovFirst = concat(Bytes(mov.begin(), mov.begin() + 20),
                             Bytes(mov.begin() + 28 + 1346, mov.end()));  // ftyp, moov
    moovFirst = concat(moovFirst, Bytes{0, 0, 0, 0, 'm', 'd', 'a', 't', 1, 2, 3});
    const auto toEnd = carveBytes(iso(), concat(moovFirst, Bytes(1000, 0x55)));
    ASSERT_TRUE(toEnd);
    EXPECT_EQ(toEnd->length, moovFirst.size() + 1000);
    EXPECT_TRUE(toEnd->partial);
    EXPECT_TRUE(toEnd->openEnded);
    EXPECT_EQ(toEnd->checkedLength, moovFirst.size() - 3);
}

// A medium that holds a few header bytes at given offsets and reads as zeros
// elsewhere, and counts what is read: a 500 MB movie must cost header reads only.
class SparseReader final : public ByteReader {
public:
    explicit SparseReader(uint64_t size) : size_(size) {}
    void put(uint64_t at, const Bytes& b) { parts_[at] = b; }
    uint64_t limit() const override { return size_; }
    size_t read(uint64_t offset, void* out, size_t n) override {
        if (offset >= size_) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
        bytesRead += n;
        auto* o = static_cast<uint8_t*>(out);
        std::memset(o, 0, n);
        for (const auto& [at, b] : parts_)
            for (size_t i = 0; i < b.size(); ++i)
                if (at + i >= offset && at + i < offset + n) o[at + i - offset] = b[i];
        return n;
    }
    uint64_t bytesRead = 0;

private:
    uint64_t size_;
    std::map<uint64_t, Bytes> parts_;
};

TEST(IsoMediaCarver, AHugeMovieIsMeasuredFromBoxHeadersOnly) {
    const Bytes mov = media("clip.mov");
    const Bytes moov(mov.begin() + 28 + 1346, mov.end());
    const uint64_t mdatSize = 500ull * 1024 * 1024;
    SparseReader r(600ull * 1024 * 1024);
    Bytes head(mov.begin(), mov.begin() + 28);  // ftyp "qt  ", wide
    head = concat(head, Bytes{0, 0, 0, 1, 'm', 'd', 'a', 't'});
    Bytes large(8);
    for (int i = 0; i < 8; ++i) large[i] = static_cast<uint8_t>(mdatSize >> (56 - 8 * i));
    r.put(0, concat(head, large));
    r.put(28 + mdatSize, moov);
    const auto c = iso().carve(r);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "MOV");
    EXPECT_EQ(c->length, 28 + mdatSize + moov.size());
    EXPECT_FALSE(c->partial);
    EXPECT_LT(r.bytesRead, 64u * 1024);
}

TEST(IsoMediaCarver, LookAlikesAreRejected) {
    const Bytes mp4 = media("clip.mp4");
    auto rejected = [](const Bytes& b) { return !carveBytes(iso(), b).has_value(); };

    Bytes odd = mp4;  // ftyp size not header + brands
    putBe32(odd, 0, 30);
    EXPECT_TRUE(rejected(odd));
    Bytes binaryBrand = mp4;
    binaryBrand[9] = 0x01;
    EXPECT_TRUE(rejected(binaryBrand));
    Bytes jp2 = mp4;  // JPEG 2000 in the same box format: its own carver's
    std::memcpy(jp2.data() + 8, "jp2 ", 4);
    EXPECT_TRUE(rejected(jp2));
    // An ftyp followed by nothing that is a box.
    EXPECT_TRUE(rejected(concat(Bytes(mp4.begin(), mp4.begin() + 28), Bytes(4096, 0))));
    EXPECT_TRUE(rejected(concat(Bytes(mp4.begin(), mp4.begin() + 28), randomBytes(4096))));
    // A classic first atom alone, or with a second atom but no movie or media data.
    EXPECT_TRUE(rejected(concat(box("free", Bytes(8, 0)), randomBytes(4096))));
    EXPECT_TRUE(rejected(concat(box("wide", {}), concat(box("free", Bytes(4)), Bytes(512, 0)))));
    // Text that happens to read as "....free" with a wild size.
    const std::string text = "abcdfree and then more plain words follow here";
    EXPECT_TRUE(rejected(Bytes(text.begin(), text.end())));

    Bytes sector(512, 0);
    std::memcpy(sector.data() + 4, "ftyp", 4);
    putBe32(sector, 0, 0x10000);
    EXPECT_FALSE(iso().quick(sector.data()));
    std::memcpy(sector.data() + 4, "moov", 4);
    EXPECT_TRUE(iso().quick(sector.data()));
}

}  // namespace
}  // namespace kestrum::carve
