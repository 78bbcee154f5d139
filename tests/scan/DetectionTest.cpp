// Header detection: list order, token tests, the MKV marker capture, and the fast
// detector giving exactly the list walk's answers.
#include <gtest/gtest.h>

#include <random>

#include "MemorySource.h"
#include "ScanTestSupport.h"
#include "TestSupport.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

std::vector<uint8_t> oneSector(std::initializer_list<uint8_t> head, size_t tokenAt = 0,
                               std::string_view token = {}) {
    Medium m(1);
    m.put(0, 0, head);
    if (!token.empty()) m.put(0, tokenAt, token);
    return m.bytes;
}

}  // namespace

TEST(Detection, JpegSignatures) {
    TypeList types = typesOf({"JPEG"});
    EXPECT_EQ(detectedName(types, oneSector({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'})),
              "JPEG");
    EXPECT_EQ(detectedName(types, oneSector({0xFF, 0xD8, 0xFF, 0xE1, 0x01, 0x9A, 'E', 'x'})),
              "JPEG");
    // An Exif header with any other APP1 length is not a JPEG header here.
    EXPECT_EQ(detectedName(types, oneSector({0xFF, 0xD8, 0xFF, 0xE1, 0x09, 0x8C, 'E', 'x'})), "");
    EXPECT_EQ(detectedName(types, oneSector({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x84, 0x00})), "");
}

TEST(Detection, TiffFamilyGoesByListOrderAndTokens) {
    TypeList all = allTypes();
    const std::initializer_list<uint8_t> mm = {0x4D, 0x4D, 0x00, 0x2A};
    EXPECT_EQ(detectedName(all, oneSector(mm, 300, "Canon")), "CRW");
    EXPECT_EQ(detectedName(all, oneSector(mm, 300, "NIKON")), "NEF");
    EXPECT_EQ(detectedName(all, oneSector(mm, 300, "PENTAX")), "PEF");
    EXPECT_EQ(detectedName(all, oneSector(mm, 300, "EPSON")), "ERF");
    EXPECT_EQ(detectedName(all, oneSector(mm, 300, "MAMIYA")), "MEF");
    EXPECT_EQ(detectedName(all, oneSector(mm, 300, "Nikon")), "DCR");  // tokens are case-sensitive
    // "Canon" and "NIKON" both there: CRW's two-byte signature comes first.
    auto both = oneSector(mm, 300, "NIKON");
    std::memcpy(both.data() + 100, "Canon", 5);
    EXPECT_EQ(detectedName(all, both), "CRW");
    // Without DCR in the list, an untokened 4D 4D 00 2A header is nobody's.
    TypeList noDcr = typesOf({"CRW", "NEF", "PEF", "ERF", "MEF"});
    EXPECT_EQ(detectedName(noDcr, oneSector(mm)), "");

    const std::initializer_list<uint8_t> ii = {0x49, 0x49, 0x2A, 0x00};
    EXPECT_EQ(detectedName(all, oneSector(ii, 40, "Canon")), "CR2");
    EXPECT_EQ(detectedName(all, oneSector(ii, 40, "SONY")), "SR2");
    EXPECT_EQ(detectedName(all, oneSector({0x49, 0x49, 0x2A, 0x00, 0xD6, 0x4E, 0x36})), "DNG");
    EXPECT_EQ(detectedName(all, oneSector(ii)), "TIFF");
    EXPECT_EQ(detectedName(all, oneSector({0x49, 0x49, 0x1A, 0x00}, 40, "Canon")), "CR2");
    EXPECT_EQ(detectedName(all, oneSector({0x49, 0x49, 0x1A, 0x00})), "");
}

TEST(Detection, RiffAndSharedSignatures) {
    TypeList all = allTypes();
    const std::initializer_list<uint8_t> riff = {'R', 'I', 'F', 'F', 0x24, 0x10, 0, 0};
    EXPECT_EQ(detectedName(all, oneSector(riff, 8, "WAVE")), "WAV");
    EXPECT_EQ(detectedName(all, oneSector(riff, 8, "AVI LIST")), "AVI");
    EXPECT_EQ(detectedName(all, oneSector(riff, 8, "AVI ")), "");
    EXPECT_EQ(detectedName(all, oneSector(riff)), "");

    const std::initializer_list<uint8_t> asf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    EXPECT_EQ(detectedName(all, oneSector(asf)), "WMA");
    TypeList asfOnly = typesOf({"ASF"});
    EXPECT_EQ(detectedName(asfOnly, oneSector(asf)), "ASF");
    // The OGG signature holds its own token.
    EXPECT_EQ(detectedName(all, oneSector({'O', 'g', 'g', 'S', 0, 2})), "OGG");
}

TEST(Detection, TokenMayRunIntoTheNextSectorOfTheBufferButNotBeyond) {
    TypeList wav = typesOf({"WAV"});
    for (size_t at : {510u, 511u}) {
        Medium m(2);
        m.put(0, 0, "RIFF").put(0, at, "WAVE");
        EXPECT_EQ(detectedName(wav, m.bytes), "WAV") << at;
        // The same sector as the last of the buffer: the token's tail is not there.
        std::vector<uint8_t> last(m.bytes.begin(), m.bytes.begin() + 512);
        EXPECT_EQ(detectedName(wav, last), "") << at;
    }
    // A token that starts in the next sector does not count.
    Medium m(2);
    m.put(0, 0, "RIFF").put(1, 0, "WAVE");
    EXPECT_EQ(detectedName(wav, m.bytes), "");
}

TEST(Detection, NoMatchLeavesTheOutputsAsTheyWere) {
    TypeList types = typesOf({"PNG", "GIF"});
    char name[6] = "GIF";
    int32_t span = 77;
    const auto zeros = oneSector({});
    EXPECT_EQ(DetectFileType(types, SectorView(zeros.data(), 512, 0), name, span), -1);
    EXPECT_STREQ(name, "GIF");
    EXPECT_EQ(span, 77);
    const auto png = oneSector({0x89, 'P', 'N', 'G'});
    EXPECT_EQ(DetectFileType(types, SectorView(png.data(), 512, 0), name, span), 0);
    EXPECT_STREQ(name, "PNG");
    EXPECT_EQ(span, 20480);

    TypeList divx = typesOf({"DIVX"});
    EXPECT_EQ(DetectFileType(divx, SectorView(png.data(), 512, 0), name, span), -1);
}

TEST(Detection, MkvHeaderRecapturesTheEndMarker) {
    TypeList types = typesOf({"JPEG", "MKV"});
    const std::initializer_list<uint8_t> ebml = {0x1A, 0x45, 0xDF, 0xA3, 0x93, 0x42, 0x82, 0x88};
    ASSERT_STREQ(types[0].extName, "MKV");  // catalogue order
    auto marker = [&] {
        const SigEntry& e = types[0].ends[0];
        return std::vector<uint8_t>(e.bytes.begin(), e.bytes.begin() + e.length);
    };

    Medium first(1);
    first.put(0, 0, ebml).put(0, 40, {0x4D, 1, 2, 0x53}).put(0, 200, {0x4D, 3, 4, 0x53});
    EXPECT_EQ(detectedName(types, first.bytes), "MKV");
    EXPECT_EQ(marker(), (std::vector<uint8_t>{0x4D, 3, 4, 0x53}));  // the last position wins

    Medium second(1);
    second.put(0, 0, ebml).put(0, 508, {0x4D, 5, 6, 0x53});  // the last position that fits
    EXPECT_EQ(detectedName(types, second.bytes), "MKV");
    EXPECT_EQ(marker(), (std::vector<uint8_t>{0x4D, 5, 6, 0x53}));

    Medium none(2);
    none.put(0, 0, ebml).put(0, 509, {0x4D, 7, 8}).put(1, 0, {0x53});
    EXPECT_EQ(detectedName(types, none.bytes), "MKV");
    EXPECT_EQ(marker(), (std::vector<uint8_t>{0x4D, 5, 6, 0x53}));  // kept
    EXPECT_EQ(types[0].ends[0].length, 4);
}

TEST(Detection, DetectorAnswersExactlyAsTheListWalk) {
    // Sectors that begin with (parts of) real signatures, the rest random, so that
    // partial matches, tokens and MKV captures all occur.
    const TypeList all = allTypes();
    std::mt19937 rng(12345);
    std::vector<std::vector<uint8_t>> heads;
    for (const stExtInfo& r : all)
        for (int k = 0; k < r.sigCount; ++k) {
            std::vector<uint8_t> h(r.sigs[k].offset, 0);
            h.insert(h.end(), r.sigs[k].bytes.begin(), r.sigs[k].bytes.begin() + r.sigs[k].length);
            heads.push_back(h);
        }
    const char* tokens[] = {"Canon",    "NIKON",  "SONY",   "WAVE",
                            "AVI LIST", "PENTAX", "MAMIYA", "EPSON"};
    TypeList walked = all;
    TypeList fast = all;
    HeaderMatcher detector(fast);
    std::vector<uint8_t> buf(3 * 512);
    int matches = 0;
    for (int round = 0; round < 20000; ++round) {
        for (auto& b : buf) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0x4D);
        const auto& h = heads[rng() % heads.size()];
        std::copy(h.begin(), h.begin() + std::min(h.size(), size_t(1 + rng() % h.size())),
                  buf.begin());
        if (rng() % 2) {
            const char* t = tokens[rng() % 8];
            std::memcpy(buf.data() + rng() % 512, t, std::strlen(t));
        }
        const size_t length = 512 + rng() % 1024;
        const SectorView view(buf.data(), length, round);
        char n1[6] = "x", n2[6] = "x";
        int32_t s1 = -5, s2 = -5;
        const int32_t a = DetectFileType(walked, view, n1, s1);
        const int32_t b = detector.detect(view, n2, s2);
        ASSERT_EQ(a, b) << "round " << round;
        ASSERT_STREQ(n1, n2);
        ASSERT_EQ(s1, s2);
        ASSERT_EQ(
            std::memcmp(walked.back().ends.data(), fast.back().ends.data(), sizeof(SigEntry) * 5),
            0);
        matches += a >= 0;
    }
    EXPECT_GT(matches, 3000);  // the comparison saw many matches, not just misses
}

TEST(Detection, RealSamples) {
    if (samplesDir().empty()) GTEST_SKIP() << "sample folder not present";
    TypeList all = allTypes();
    struct Expect {
        const char* file;
        const char* type;  // what the rules give; "" = no header
    };
    // Exif JPEGs start FF D8 FF E1 with an APP1 length other than 01 9A, and the
    // AFCP one FF D8 FF DB 00 84: none of them has a JPEG header by these rules.
    // TIFF-based raws go by byte order and maker token, not by their own type.
    const Expect cases[] = {
        {"exiftool-CanonRaw.cr2", "CR2"},
        // Little-endian CRWs: "II" but "Canon" only beyond the first sector.
        {"exiftool-CanonRaw.crw", ""},
        {"exiv2-exiv2-canon-powershot-s40.crw", ""},
        {"exiftool-FujiFilm.raf", "RAF"},
        {"exiftool-Minolta.mrw", "MRW"},
        // Little-endian D70 NEF: 49 49 2A 00 and "NIKON", but NEF's header is 4D 4D 00 2A.
        {"exiftool-Nikon.nef", "TIFF"},
        {"exiftool-Sigma.x3f", "X3F"},
        {"exiftool-SigmaDP2.x3f", "X3F"},
        // Big-endian DNGs without a maker token in their first sector.
        {"exiftool-DNG.dng", "DCR"},
        {"exiv2-IMG_1361.dng", "DCR"},
        {"exiftool-Panasonic.rw2", "RAW"},
        {"exiftool-PSP.psp", "PSP"},
        {"exiftool-Photoshop.psd", "PSD"},
        {"exiftool-Matroska.mkv", "MKV"},
        {"exiftool-Real.rm", "RM"},
        {"exiftool-QuickTime.mov", ""},  // starts with its moov atom
        {"exiftool-Canon.jpg", ""},
        {"exiftool-Nikon.jpg", ""},
        {"exiftool-AFCP.jpg", ""},
        {"exiftool-Kodak.jpg", ""},
    };
    for (const Expect& c : cases) {
        std::vector<uint8_t> bytes = sample(c.file);
        if (bytes.empty()) {
            ADD_FAILURE() << c.file << " missing from the sample folder";
            continue;
        }
        bytes.resize((bytes.size() + 511) / 512 * 512);
        EXPECT_EQ(detectedName(all, bytes), c.type) << c.file;
    }
}
