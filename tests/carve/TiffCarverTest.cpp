// TIFF and TIFF-based raws: recognised by their directories, measured to the
// furthest byte a directory names, classed by DNG version, maker and raw marks.
#include <gtest/gtest.h>

#include <cstring>

#include "RawCarverTestSupport.h"
#include "carve/CiffCarver.h"
#include "carve/MrwCarver.h"
#include "carve/RafCarver.h"
#include "carve/TiffCarver.h"
#include "carve/X3fCarver.h"

namespace kestrum::carve {
namespace {

using rawtest::concat;
using rawtest::dataFile;
using rawtest::expect;
using rawtest::noise;

std::string carveTiff(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::describe(rawtest::run(tiffCarver(), bytes, limit));
}

// A field of a test file, `size` bytes wide, in the file's byte order.
uint32_t get(const std::vector<uint8_t>& f, size_t at, int size = 4) {
    uint32_t v = 0;
    for (int i = 0; i < size; ++i) v = v << 8 | f[at + (f[0] == 'I' ? size - 1 - i : i)];
    return v;
}

void put(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        f[at + (f[0] == 'I' ? i : 3 - i)] = static_cast<uint8_t>(v >> 8 * i);
}

size_t nextLinkAt(const std::vector<uint8_t>& f, size_t ifd) {
    return ifd + 2 + 12 * get(f, ifd, 2);
}

size_t entryAt(const std::vector<uint8_t>& f, size_t ifd, uint16_t tag) {
    for (size_t i = 0; i < get(f, ifd, 2); ++i)
        if (get(f, ifd + 2 + 12 * i, 2) == tag) return ifd + 2 + 12 * i;
    ADD_FAILURE() << "no tag " << tag;
    return 0;
}

TEST(TiffCarver, EncoderFilesMeasureToTheirLastByte) {
    for (const char* name : {"tiff-strips-le.tif", "tiff-strips-be.tif", "tiff-tiles.tif",
                             "tiff-pages.tif", "tiff-exif-gps.tif"}) {
        SCOPED_TRACE(name);
        const auto file = dataFile(name);
        ASSERT_FALSE(file.empty());
        // Whatever follows on the medium does not lengthen it.
        for (const auto& tail :
             {std::vector<uint8_t>{}, noise(70000, 1), std::vector<uint8_t>(70000)})
            EXPECT_EQ(carveTiff(concat(file, tail)), expect("TIFF", file.size()));
    }
}

TEST(TiffCarver, ClassesByDngVersionMakerAndRawMarks) {
    // DNGVersion beats the Make (Canon, without a CR2 marker). The last strip ends one
    // byte before the file: exiftool pads it to a word.
    const auto dng = dataFile("tiff-dng.tif");
    EXPECT_EQ(carveTiff(dng), expect("DNG", dng.size() - 1));
    const auto plain = dataFile("tiff-nikon-plain.tif");  // a camera's TIFF: no raw marks
    EXPECT_EQ(carveTiff(plain), expect("TIFF", plain.size() - 1));

    const auto cfa = dataFile("tiff-cfa.tif");
    const std::string placeholder = "MAKER PLACEHOLDER 123456";
    const auto at = std::search(cfa.begin(), cfa.end(), placeholder.begin(), placeholder.end());
    ASSERT_NE(at, cfa.end());
    const std::pair<const char*, std::string_view> makers[] = {
        {"NIKON CORPORATION", "NEF"},     {"PENTAX Corporation", "PEF"},
        {"RICOH IMAGING COMPANY", "PEF"}, {"OLYMPUS IMAGING CORP.", "ORF"},
        {"OM Digital Solutions", "ORF"},  {"SONY", "ARW"},  // model "Model 1": not the DSC-R1
        {"SEIKO EPSON CORP.", "ERF"},     {"Mamiya-OP Co.,Ltd.", "MEF"},
        {"EASTMAN KODAK COMPANY", "DCR"}, {"Canon", "TIFF"},  // CR2 needs its marker
        {"Acme Optical", "TIFF"},
    };
    for (const auto& [make, type] : makers) {
        auto f = cfa;
        std::fill_n(f.begin() + (at - cfa.begin()), placeholder.size(), 0);
        std::memcpy(f.data() + (at - cfa.begin()), make, std::strlen(make));
        EXPECT_EQ(carveTiff(f), expect(type, f.size())) << make;
    }

    // Olympus and Panasonic byte-order marks class the file whatever the maker.
    const auto le = dataFile("tiff-strips-le.tif"), be = dataFile("tiff-strips-be.tif");
    const std::pair<const char*, std::string_view> marks[] = {
        {"IIRO", "ORF"}, {"IIRS", "ORF"}, {"MMOR", "ORF"}, {"IIU\0", "RAW"}};
    for (const auto& [mark, type] : marks) {
        auto f = mark[0] == 'I' ? le : be;
        std::memcpy(f.data(), mark, 4);
        EXPECT_EQ(carveTiff(f), expect(type, f.size())) << mark;
    }
}

TEST(TiffCarver, TodaysRawsByMakerAndModel) {
    const auto cfa = dataFile("tiff-cfa.tif");
    const auto find = [&](const std::string& text) {
        const auto at = std::search(cfa.begin(), cfa.end(), text.begin(), text.end());
        EXPECT_NE(at, cfa.end()) << text;
        return static_cast<size_t>(at - cfa.begin());
    };
    const size_t make = find("MAKER PLACEHOLDER 123456"), model = find("Model 1");
    // Model values of 7 characters fit the test file's "Model 1".
    const struct {
        const char* make;
        const char* model;
        std::string_view type;
    } cameras[] = {
        {"SONY", "ILCE-7M", "ARW"},      {"SONY", "DSC-R1 ", "SR2"},
        {"NIKON", "COOLPIX", "NRW"},     {"NIKON", "D850   ", "NEF"},
        {"SAMSUNG", "NX1    ", "SRW"},   {"Hasselblad", "H6D-100", "3FR"},
        {"Phase One", "IQ4 150", "IIQ"},
    };
    for (const auto& c : cameras) {
        auto f = cfa;
        std::fill_n(f.begin() + make, 24, 0);
        std::memcpy(f.data() + make, c.make, std::strlen(c.make));
        std::memcpy(f.data() + model, c.model, 7);
        EXPECT_EQ(carveTiff(f), expect(c.type, f.size())) << c.make << " " << c.model;
    }
    const auto iiq = test::sample("exiftool-PhaseOne.iiq");
    if (iiq.empty()) GTEST_SKIP() << "no sample folder";
    EXPECT_EQ(carveTiff(iiq).substr(0, 4), "IIQ ");
}

TEST(TiffCarver, CameraSamples) {
    if (test::samplesDir().empty()) GTEST_SKIP() << "no samples folder at " KESTRUM_SAMPLES_DIR;
    const auto size = [](const char* name) { return test::sample(name).size(); };
    // exiftool appended 18 bytes of non-TIFF data no directory names.
    EXPECT_EQ(carveTiff(test::sample("exiftool-CanonRaw.cr2")), expect("CR2", 8706));
    EXPECT_EQ(carveTiff(test::sample("exiftool-Nikon.nef")),
              expect("NEF", size("exiftool-Nikon.nef")));
    EXPECT_EQ(carveTiff(test::sample("exiftool-DNG.dng")), expect("DNG", size("exiftool-DNG.dng")));
    // Image data removed by their projects: tiles, preview and raw strip point past the end.
    EXPECT_EQ(carveTiff(test::sample("exiv2-IMG_1361.dng")),
              expect("DNG", size("exiv2-IMG_1361.dng"), true));
    const auto rw2 = test::sample("exiftool-Panasonic.rw2");
    EXPECT_EQ(carveTiff(rw2), expect("RAW", rw2.size(), true));
    // Given room, the RW2's raw strip counts: RawDataOffset 12322 + 20511792 bytes.
    EXPECT_EQ(carveTiff(concat(rw2, std::vector<uint8_t>(21 << 20))),
              expect("RAW", 12322 + 20511792));
}

TEST(TiffCarver, CutOrBrokenStructuresGiveTheValidPrefix) {
    const auto pages = dataFile("tiff-pages.tif");  // little-endian, 3 pages
    const uint32_t ifd0 = get(pages, 4), ifd1 = get(pages, nextLinkAt(pages, ifd0));
    const uint32_t ifd2 = get(pages, nextLinkAt(pages, ifd1));
    ASSERT_EQ(get(pages, nextLinkAt(pages, ifd2)), 0u);

    // Cut between the first and the second page's directory; the first past the limit.
    EXPECT_EQ(carveTiff(pages, ifd1 - 10), expect("TIFF", ifd1 - 10, true));
    EXPECT_EQ(carveTiff(pages, ifd0 - 1), "none");

    // A link into the first page's image data: that directory does not hold up, and
    // the length is the first page's, which ends where the second page's strip starts.
    const size_t strip2 = entryAt(pages, ifd1, 0x111);
    ASSERT_EQ(get(pages, strip2 + 4), 1u);
    auto f = pages;
    put(f, nextLinkAt(f, ifd0), 100);
    EXPECT_EQ(carveTiff(f), expect("TIFF", get(pages, strip2 + 8), true));

    // A loop back to the first directory ends the walk.
    f = pages;
    put(f, nextLinkAt(f, ifd2), ifd0);
    EXPECT_EQ(carveTiff(f), expect("TIFF", pages.size()));

    // An Exif directory overwritten: what the other directories name still counts.
    f = dataFile("tiff-exif-gps.tif");                                                 // big-endian
    put(f, entryAt(f, get(f, 4), 0x8769) + 8, static_cast<uint32_t>(f.size() - 200));  // strips
    EXPECT_EQ(carveTiff(f), expect("TIFF", f.size(), true));

    // A strip running past the end: the file reaches at least the limit.
    f = dataFile("tiff-strips-le.tif");
    const size_t counts = entryAt(f, get(f, 4), 0x117);
    ASSERT_EQ(get(f, counts + 2, 2), 3u);  // four SHORT counts stored out of line
    ASSERT_EQ(get(f, counts + 4), 4u);
    f[get(f, counts + 8) + 7] = 0xFF;
    EXPECT_EQ(carveTiff(concat(f, noise(5000, 2))), expect("TIFF", f.size() + 5000, true));

    // A chain of 10000 one-entry directories stops at the walk's bound.
    std::vector<uint8_t> many(8);
    std::memcpy(many.data(), "II*\0\x08\0\0\0", 8);
    for (uint32_t i = 0; i < 10000; ++i) {
        const uint8_t entry[18] = {1, 0, 0x00, 0x01, 3, 0, 1, 0, 0, 0, 16};  // ImageWidth 16
        many.insert(many.end(), entry, entry + 18);
        if (i + 1 < 10000) put(many, many.size() - 4, static_cast<uint32_t>(many.size()));
    }
    EXPECT_EQ(carveTiff(many), expect("TIFF", 8 + 8192 * 18, true));
}

TEST(TiffCarver, LookAlikesAreRejected) {
    const auto le = dataFile("tiff-strips-le.tif");
    const uint32_t ifd0 = get(le, 4);
    auto f = le;
    f[ifd0] = f[ifd0 + 1] = 0xFF;  // 65535 entries
    EXPECT_EQ(carveTiff(f), "none");
    f[ifd0] = f[ifd0 + 1] = 0;  // none
    EXPECT_EQ(carveTiff(f), "none");
    f = le;
    for (size_t i = 0; i < 4; ++i) f[ifd0 + 2 + 12 * i + 2] = 0x77;  // unknown value types
    EXPECT_EQ(carveTiff(f), "none");

    std::vector<uint8_t> zeros(4096);
    std::memcpy(zeros.data(), "II*\0\x08\0\0\0", 8);
    EXPECT_EQ(carveTiff(zeros), "none");
    int accepted = 0;
    for (uint32_t seed = 0; seed < 2000; ++seed) {
        auto junk = noise(4096, seed);
        std::memcpy(junk.data(), seed % 2 ? "II*\0" : "MM\0*", 4);
        put(junk, 4, 8 + seed % 4000);  // the first directory within reach
        accepted += carveTiff(junk) != "none";
    }
    EXPECT_EQ(accepted, 0);
}

// Every type the camera-raw families may return names a catalogue row (run() also
// checks each result against its family's list).
TEST(TiffCarver, RawFamiliesClassIntoCatalogueTypes) {
    for (const CarverEntry* e :
         {&tiffCarver(), &ciffCarver(), &rafCarver(), &mrwCarver(), &x3fCarver()}) {
        EXPECT_FALSE(e->types.empty()) << e->family;
        for (const auto type : e->types) EXPECT_TRUE(rawtest::isCatalogueType(type)) << type;
    }
    EXPECT_FALSE(rawtest::isCatalogueType("RW2"));
}

}  // namespace
}  // namespace kestrum::carve
