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
using rawtest::noise;

std::optional<Carved> carveTiff(const std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
    return rawtest::run(tiffCarver(), bytes, limit);
}

uint32_t get32(const std::vector<uint8_t>& f, size_t at, bool le) {
    return le ? f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t{f[at + 3]} << 24
              : uint32_t{f[at]} << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3];
}

void put32(std::vector<uint8_t>& f, size_t at, uint32_t v, bool le) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (le ? 8 * i : 24 - 8 * i));
}

uint16_t get16(const std::vector<uint8_t>& f, size_t at, bool le) {
    return static_cast<uint16_t>(le ? f[at] | f[at + 1] << 8 : f[at] << 8 | f[at + 1]);
}

// Directory offsets of a file's IFD chain.
std::vector<uint32_t> chain(const std::vector<uint8_t>& f, bool le) {
    std::vector<uint32_t> ifds;
    for (uint32_t at = get32(f, 4, le); at != 0 && ifds.size() < 16;) {
        ifds.push_back(at);
        at = get32(f, at + 2 + 12 * get16(f, at, le), le);
    }
    return ifds;
}

size_t nextLinkAt(const std::vector<uint8_t>& f, uint32_t ifd, bool le) {
    return ifd + 2 + 12 * get16(f, ifd, le);
}

size_t entryAt(const std::vector<uint8_t>& f, uint32_t ifd, uint16_t tag, bool le) {
    for (size_t i = 0; i < get16(f, ifd, le); ++i)
        if (get16(f, ifd + 2 + 12 * i, le) == tag) return ifd + 2 + 12 * i;
    ADD_FAILURE() << "no tag " << tag;
    return 0;
}

TEST(TiffCarver, EncoderFilesMeasureToTheirLastByte) {
    for (const char* name : {"tiff-strips-le.tif", "tiff-strips-be.tif", "tiff-tiles.tif",
                             "tiff-pages.tif", "tiff-exif-gps.tif"}) {
        SCOPED_TRACE(name);
        const auto file = dataFile(name);
        ASSERT_FALSE(file.empty());
        auto c = carveTiff(file);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->type, "TIFF");
        EXPECT_EQ(c->length, file.size());
        EXPECT_FALSE(c->partial);
        // Whatever follows on the medium does not lengthen it.
        for (const auto& tail : {noise(70000, 1), std::vector<uint8_t>(70000, 0)}) {
            c = carveTiff(concat(file, tail));
            ASSERT_TRUE(c);
            EXPECT_EQ(c->length, file.size());
            EXPECT_FALSE(c->partial);
        }
    }
}

TEST(TiffCarver, ClassesByDngVersionMakerAndRawMarks) {
    const auto dng = dataFile("tiff-dng.tif");
    auto c = carveTiff(dng);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "DNG");  // its Make is Canon, but there is no CR2 marker
    // The last strip ends one byte before the file: exiftool pads it to a word.
    EXPECT_EQ(c->length, dng.size() - 1);

    c = carveTiff(dataFile("tiff-nikon-plain.tif"));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->type, "TIFF");  // a camera's own TIFF, no raw marks

    const auto cfa = dataFile("tiff-cfa.tif");
    const auto at = std::search(cfa.begin(), cfa.end(), "MAKER PLACEHOLDER 123456",
                                "MAKER PLACEHOLDER 123456" + 24);
    ASSERT_NE(at, cfa.end());
    const size_t makeAt = static_cast<size_t>(at - cfa.begin());
    const std::pair<const char*, std::string_view> makers[] = {
        {"NIKON CORPORATION", "NEF"},     {"PENTAX Corporation", "PEF"},
        {"RICOH IMAGING COMPANY", "PEF"}, {"OLYMPUS IMAGING CORP.", "ORF"},
        {"OM Digital Solutions", "ORF"},  {"SONY", "SR2"},
        {"SEIKO EPSON CORP.", "ERF"},     {"Mamiya-OP Co.,Ltd.", "MEF"},
        {"EASTMAN KODAK COMPANY", "DCR"}, {"Canon", "TIFF"},  // CR2 needs its marker
        {"Acme Optical", "TIFF"},
    };
    for (const auto& [make, type] : makers) {
        SCOPED_TRACE(make);
        auto f = cfa;
        std::fill_n(f.begin() + makeAt, 24, 0);
        std::memcpy(f.data() + makeAt, make, std::strlen(make));
        c = carveTiff(f);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->type, type);
        EXPECT_EQ(c->length, f.size());
    }

    // The byte-order marks of Olympus and Panasonic raws class them whatever the maker.
    const auto le = dataFile("tiff-strips-le.tif"), be = dataFile("tiff-strips-be.tif");
    const std::pair<const char*, std::string_view> marks[] = {
        {"IIRO", "ORF"}, {"IIRS", "ORF"}, {"MMOR", "ORF"}, {"IIU\0", "RAW"}};
    for (const auto& [mark, type] : marks) {
        SCOPED_TRACE(mark);
        auto f = mark[0] == 'I' ? le : be;
        std::memcpy(f.data(), mark, 4);
        c = carveTiff(f);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->type, type);
        EXPECT_EQ(c->length, f.size());
    }
}

TEST(TiffCarver, CameraSamples) {
    if (test::samplesDir().empty()) GTEST_SKIP() << "no samples folder at " KESTRUM_SAMPLES_DIR;
    struct Case {
        const char* name;
        std::string_view type;
        uint64_t length;  // 0: the sample's size
        bool partial;
    };
    const Case cases[] = {
        // exiftool appended 18 bytes of non-TIFF data no directory names.
        {"exiftool-CanonRaw.cr2", "CR2", 8706, false},
        {"exiftool-Nikon.nef", "NEF", 0, false},
        {"exiftool-DNG.dng", "DNG", 0, false},
        // Image data removed by their projects: tiles, preview and raw strip point past the end.
        {"exiv2-IMG_1361.dng", "DNG", 0, true},
        {"exiftool-Panasonic.rw2", "RAW", 0, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const auto file = test::sample(k.name);
        ASSERT_FALSE(file.empty());
        const auto c = carveTiff(file);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->type, k.type);
        EXPECT_EQ(c->length, k.length ? k.length : file.size());
        EXPECT_EQ(c->partial, k.partial);
    }
    // Given room, the removed raw strip of the RW2 is counted: RawDataOffset 12322
    // plus 20511792 bytes.
    const auto rw2 = test::sample("exiftool-Panasonic.rw2");
    const auto c = carveTiff(concat(rw2, std::vector<uint8_t>(21 << 20)));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, 12322u + 20511792u);
    EXPECT_FALSE(c->partial);
}

TEST(TiffCarver, CutOrBrokenStructuresGiveTheValidPrefix) {
    const auto pages = dataFile("tiff-pages.tif");
    const auto ifds = chain(pages, true);
    ASSERT_EQ(ifds.size(), 3u);

    // Cut by the limit between the first and the second page's directory.
    auto c = carveTiff(pages, ifds[1] - 10);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, ifds[1] - 10);
    // The first directory itself past the limit: nothing to check, no file.
    EXPECT_FALSE(carveTiff(pages, ifds[0] - 1));

    // A link into the image data of the first page: that directory does not hold up.
    auto f = pages;
    put32(f, nextLinkAt(f, ifds[0], true), 100, true);
    c = carveTiff(f);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_GE(c->length, nextLinkAt(f, ifds[0], true) + 4);
    EXPECT_LT(c->length, pages.size());

    // Loops back to an earlier directory or to itself end the walk, the length stands.
    f = pages;
    put32(f, nextLinkAt(f, ifds[2], true), ifds[0], true);
    c = carveTiff(f);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->length, pages.size());
    EXPECT_FALSE(c->partial);
    put32(f, nextLinkAt(f, ifds[0], true), ifds[0], true);
    c = carveTiff(f);
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->partial);

    // A strip that runs past the end: the file reaches at least the limit.
    f = dataFile("tiff-strips-be.tif");
    const uint32_t ifd0 = get32(f, 4, false);
    const size_t counts = entryAt(f, ifd0, 0x117, false);
    ASSERT_EQ(get16(f, counts + 2, false), 3);   // SHORT counts
    ASSERT_EQ(get32(f, counts + 4, false), 4u);  // four strips, counts stored out of line
    const size_t last = get32(f, counts + 8, false) + 2 * 3;
    f[last] = 0xFF, f[last + 1] = 0xFF;
    c = carveTiff(concat(f, noise(5000, 2)));
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, f.size() + 5000);

    // An Exif directory overwritten: what the other directories name still counts.
    f = dataFile("tiff-exif-gps.tif");
    const size_t exif = entryAt(f, get32(f, 4, false), 0x8769, false);
    put32(f, exif + 8, static_cast<uint32_t>(f.size() - 200), false);  // into the strips
    c = carveTiff(f);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_EQ(c->length, f.size());

    // A chain of 10000 one-entry directories stops at the walk's bound.
    std::vector<uint8_t> many(8);
    std::memcpy(many.data(), "II*\0\x08\0\0\0", 8);
    for (uint32_t i = 0; i < 10000; ++i) {
        const uint32_t here = static_cast<uint32_t>(many.size());
        const uint8_t entry[18] = {1, 0, 0x00, 0x01, 3, 0, 1, 0, 0, 0, 16, 0, 0, 0};
        many.insert(many.end(), entry, entry + 18);
        put32(many, here + 14, i + 1 < 10000 ? here + 18 : 0, true);
    }
    c = carveTiff(many);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->partial);
    EXPECT_LT(c->length, many.size());
}

TEST(TiffCarver, LookAlikesAreRejected) {
    const auto le = dataFile("tiff-strips-le.tif");
    const uint32_t ifd0 = get32(le, 4, true);
    auto f = le;
    f[ifd0] = 0xFF, f[ifd0 + 1] = 0xFF;  // 65535 entries
    EXPECT_FALSE(carveTiff(f));
    f = le;
    f[ifd0] = 0, f[ifd0 + 1] = 0;  // an empty first directory
    EXPECT_FALSE(carveTiff(f));
    f = le;
    for (size_t i = 0; i < 4; ++i) f[ifd0 + 2 + 12 * i + 2] = 0x77;  // unknown value types
    EXPECT_FALSE(carveTiff(f));

    std::vector<uint8_t> zeros(4096);
    std::memcpy(zeros.data(), "II*\0\x08\0\0\0", 8);
    EXPECT_FALSE(carveTiff(zeros));
    int accepted = 0;
    for (uint32_t seed = 0; seed < 2000; ++seed) {
        auto junk = noise(4096, seed);
        std::memcpy(junk.data(), seed % 2 ? "II*\0" : "MM\0*", 4);
        put32(junk, 4, 8 + seed % 4000, seed % 2);  // the first directory within reach
        if (carveTiff(junk)) ++accepted;
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
    EXPECT_FALSE(rawtest::isCatalogueType("NRW"));
}

}  // namespace
}  // namespace kestrum::carve
