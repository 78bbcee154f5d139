// The scan driver over sectors built in memory: how files are opened, closed,
// cut, rejected and numbered, where batches begin and end, and stopping.
#include <gtest/gtest.h>

#include "MemorySource.h"
#include "ScanTestSupport.h"
#include "TestSupport.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "platform/SourceFile.h"
#include "scan/ClassicDetector.h"
#include "scan/ScanDriver.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

const std::initializer_list<uint8_t> kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'};
const std::initializer_list<uint8_t> kJpegEnd = {0xFF, 0xD9};
const std::initializer_list<uint8_t> kPng = {0x89, 'P', 'N', 'G'};
const std::initializer_list<uint8_t> kPngEnd = {'E', 'N', 'D', 0xAE, 'B', '`', 0x82};

class TestPage : public ResultsPage {
public:
    void selectFirstTypeOnStop() override { ++stopSelections; }
    int stopSelections = 0;
};

struct Found {
    std::string name;
    uint64_t start;
    uint32_t count;
    bool operator==(const Found&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << "{" << f.name << " @" << f.start << " x" << f.count << "}";
}

struct Scanner {
    explicit Scanner(TypeList t) : types(std::move(t)) {}

    std::vector<Found> scan(MemorySource& source, uint64_t start, uint64_t end) {
        const ScanJob job{types, found, source, start, end, stop, page, [this](FileInfo f) {
                              thumbnails.push_back(f.fileName);
                              return 1;
                          }};
        EXPECT_EQ(runClassicScan(job), 0);
        std::vector<Found> out;
        for (const FileInfo& f : found.snapshot()) {
            EXPECT_EQ(f.checked, 0);
            out.push_back({f.fileName, f.startSector, f.sectorCount});
        }
        return out;
    }

    TypeList types;
    FoundFileList found;
    std::atomic<uint8_t> stop{0};
    TestPage page;
    std::vector<std::string> thumbnails;
};

using Files = std::vector<Found>;

}  // namespace

TEST(ScanDriver, NewHeaderClosesTheOpenFileWithEverySectorBeforeIt) {
    Medium m(30);
    m.put(0, 0, kJpeg).put(10, 0, kJpeg).put(11, 0, kJpeg).put(15, 200, kJpegEnd);
    m.put(20, 0, kJpeg);  // still open when the range ends
    MemorySource source(m.bytes);
    Scanner s(typesOf({"JPEG"}));
    EXPECT_EQ(s.scan(source, 0, 30), (Files{{"File1.JPEG", 0, 10},  // not 9: sector 9 is the file's
                                            {"File2.JPEG", 10, 1},
                                            {"File3.JPEG", 11, 5}}));
    EXPECT_EQ(s.types[0].foundCount, 3);
    EXPECT_EQ(s.page.scanPosition.load(), 30u);
    EXPECT_EQ(s.page.scanEnd.load(), 30u);
}

TEST(ScanDriver, MarkerAcrossSectorAndBatchEdges) {
    Medium m(2000);
    // Across a batch edge the marker is not seen; the file ends at the next one.
    m.put(990, 0, kJpeg).put(999, 511, {0xFF}).put(1000, 0, {0xD9}).put(1005, 100, kJpegEnd);
    // Across a sector edge inside a batch it ends the file in its first sector.
    m.put(1100, 0, kJpeg).put(1105, 511, {0xFF}).put(1106, 0, {0xD9});
    MemorySource source(m.bytes);
    Scanner s(typesOf({"JPEG"}));
    EXPECT_EQ(s.scan(source, 0, 2000), (Files{{"File1.JPEG", 990, 16}, {"File2.JPEG", 1100, 6}}));
}

TEST(ScanDriver, SizeFieldsRejectOrSizeTheFile) {
    Medium m(3000);
    m.put(3, 0, "BM").putLE32(3, 2, 0);                 // rejected: scanning resumes at 4
    m.put(4, 0, kPng).put(6, 0, kPngEnd);               // found
    m.put(10, 0, "BM").putLE32(10, 2, 1000000);         // 1954 sectors
    m.put(11, 0, "GIF8").put(12, 0, {0, 0x3B, 0});      // inside the bitmap: found too
    m.put(2000, 0, ".snd").putBE32(2000, 8, 10485761);  // rejected
    m.put(2100, 0, "RIFF").putLE32(2100, 4, 200000000).put(2100, 8, "AVI LIST");
    MemorySource source(m.bytes);
    Scanner s(allTypes());
    EXPECT_EQ(s.scan(source, 0, 3000), (Files{{"File1.PNG", 4, 3},
                                              {"File1.BMP", 10, 1954},
                                              {"File1.GIF", 11, 2},
                                              {"File1.AVI", 2100, 4001}}));
}

TEST(ScanDriver, SpanLimitCutsAtMaximumSizeAndRescansAfterTheHeader) {
    // A WAV header in the last sector of the first batch whose token runs into
    // the next sector is not seen there. The JPEG around it is cut after 20480
    // sectors; the rescan from the sector after the JPEG's header reads that
    // sector inside a batch and finds the WAV.
    Medium m(21000);
    m.put(10, 0, kJpeg);
    m.put(999, 0, "RIFF").put(999, 509, "WAVE");
    m.put(1005, 300, {'I', 'C', 'R', 'D', 0x0B, 0, 0, 0});
    MemorySource source(m.bytes);
    source.logReads = true;
    Scanner s(allTypes());
    EXPECT_EQ(s.scan(source, 0, 21000), (Files{{"File1.JPEG", 10, 4000}, {"File1.WAV", 999, 7}}));
    ASSERT_GE(source.reads.size(), 22u);
    EXPECT_EQ(source.reads[21], (std::pair<uint64_t, uint32_t>{11, 1000}));
}

TEST(ScanDriver, BatchShrunkAtTheRangeEndStaysShrunkAfterAResume) {
    Scanner s(typesOf({"JPEG"}));
    s.types[0].spanLimit = 2050;
    Medium m(2200);
    m.put(100, 0, kJpeg);
    MemorySource source(m.bytes);
    source.logReads = true;
    EXPECT_EQ(s.scan(source, 0, 2200), (Files{{"File1.JPEG", 100, 4000}}));
    // Batches 0, 1000, 2000 (200 left); the cut at 2149 resumes at 101 in 200s.
    std::vector<std::pair<uint64_t, uint32_t>> expected{{0, 1000}, {1000, 1000}, {2000, 200}};
    for (uint64_t at = 101; at < 2200; at += 200)
        expected.emplace_back(at, static_cast<uint32_t>(std::min<uint64_t>(200, 2200 - at)));
    EXPECT_EQ(source.reads, expected);
}

TEST(ScanDriver, ShortRangeIsOneBatchAndAnOpenFileAtItsEndIsDropped) {
    Medium m(400);
    m.put(100, 0, kPng).put(101, 0, kPngEnd).put(340, 0, kJpeg);
    m.put(360, 0, kJpegEnd);  // beyond the range
    MemorySource source(m.bytes);
    source.logReads = true;
    Scanner s(allTypes());
    EXPECT_EQ(s.scan(source, 50, 350), (Files{{"File1.PNG", 100, 2}}));
    EXPECT_EQ(source.reads, (std::vector<std::pair<uint64_t, uint32_t>>{{50, 300}}));
    EXPECT_EQ(s.page.scanPosition.load(), 350u);

    Scanner empty(allTypes());
    EXPECT_TRUE(empty.scan(source, 350, 350).empty());
}

TEST(ScanDriver, SectorNumbersBeyond32Bits) {
    const uint64_t base = 5'000'000'000;
    Medium m(1500);
    m.put(3, 0, kJpeg).put(4, 0, kJpegEnd).put(1200, 0, kPng).put(1201, 0, kPngEnd);
    MemorySource source(m.bytes, 0, base);
    Scanner s(allTypes());
    EXPECT_EQ(s.scan(source, base, base + 1500),
              (Files{{"File1.JPEG", base + 3, 2}, {"File1.PNG", base + 1200, 2}}));
    EXPECT_EQ(s.page.scanPosition.load(), base + 1500);
}

TEST(ScanDriver, MkvHeaderSectorIsNotAskedForItsOwnMarkerAndEachHeaderRecapturesIt) {
    const std::initializer_list<uint8_t> ebml = {0x1A, 0x45, 0xDF, 0xA3, 0x93, 0x42, 0x82, 0x88};
    Medium m(20);
    m.put(0, 0, ebml).put(0, 100, {0x4D, 0xAA, 0xBB, 0x53});
    m.put(3, 0, {0x4D, 0, 0, 0x53});  // the template's marker no longer counts
    m.put(5, 40, {0x4D, 0xAA, 0xBB, 0x53});
    m.put(8, 0, ebml).put(8, 60, {0x4D, 0x11, 0x22, 0x53});
    m.put(10, 0, ebml).put(10, 60, {0x4D, 0xCC, 0xDD, 0x53});  // closes the one at 8
    m.put(12, 0, {0x4D, 0x11, 0x22, 0x53});                    // replaced: not an end any more
    m.put(14, 9, {0x4D, 0xCC, 0xDD, 0x53});
    MemorySource source(m.bytes);
    Scanner s(allTypes());
    EXPECT_EQ(s.scan(source, 0, 20),
              (Files{{"File1.MKV", 0, 6}, {"File2.MKV", 8, 2}, {"File3.MKV", 10, 5}}));
}

TEST(ScanDriver, MarkerRunSettlesAtOnceAndScanningGoesOnAfterTheHeader) {
    Medium m(400);
    m.put(0, 0, "ID3\x03").put(0, 200, "LAME").put(300, 7, "LAME");
    m.put(5, 0, kJpeg).put(6, 0, kJpegEnd);
    m.put(320, 0, "Paint Shop Pro");
    MemorySource source(m.bytes);
    Scanner s(allTypes());
    EXPECT_EQ(s.scan(source, 0, 400),
              (Files{{"File1.MP3", 0, 310}, {"File1.JPEG", 5, 2}, {"File1.PSP", 320, 10}}));
}

TEST(ScanDriver, NamesAreNumberedPerType) {
    Medium m(20);
    m.put(0, 0, kJpeg).put(0, 100, kJpegEnd);
    m.put(2, 0, kPng).put(2, 100, kPngEnd);
    m.put(4, 0, kJpeg).put(5, 0, kJpegEnd);
    MemorySource source(m.bytes);
    Scanner s(typesOf({"PNG", "JPEG"}));
    EXPECT_EQ(s.scan(source, 0, 20),
              (Files{{"File1.JPEG", 0, 1}, {"File1.PNG", 2, 1}, {"File2.JPEG", 4, 2}}));
    const auto files = s.found.snapshot();
    EXPECT_STREQ(files[1].extName, "PNG");
    EXPECT_EQ(s.types[0].foundCount + s.types[1].foundCount, 3);
}

TEST(ScanDriver, ThumbnailsForPicturesNumbered1And12And23WhoseEndWasFound) {
    Medium m(100);
    for (uint64_t i = 0; i < 25; ++i) m.put(2 * i, 0, kJpeg).put(2 * i + 1, 0, kJpegEnd);
    MemorySource source(m.bytes);
    Scanner s(typesOf({"JPEG"}));
    EXPECT_EQ(s.scan(source, 0, 100).size(), 25u);
    EXPECT_EQ(s.thumbnails, (std::vector<std::string>{"File1.JPEG", "File12.JPEG", "File23.JPEG"}));

    // File1.JPEG closed by a header and a cut File12.JPEG get none; GIF does,
    // a camera raw never.
    Medium n(30000);
    n.put(0, 0, kJpeg).put(3, 0, kJpeg).put(4, 0, kJpegEnd);
    for (uint64_t i = 0; i < 9; ++i) n.put(10 + 2 * i, 0, kJpeg).put(11 + 2 * i, 0, kJpegEnd);
    n.put(40, 0, "GIF8").put(40, 20, {0, 0x3B, 0});
    n.put(50, 0, {0x49, 0x49, 0x2A, 0}).put(50, 30, "Canon").put(51, 0, {0xA5, 0xA7, 0x8A, 0xB8});
    n.put(60, 0, kJpeg);  // the 12th JPEG: cut after 20480 sectors
    MemorySource ns(n.bytes);
    Scanner t(allTypes());
    const Files files = t.scan(ns, 0, 30000);
    ASSERT_EQ(files.size(), 14u);
    EXPECT_EQ(files.back(), (Found{"File12.JPEG", 60, 4000}));
    EXPECT_EQ(t.thumbnails, (std::vector<std::string>{"File1.GIF"}));
}

TEST(ScanDriver, StopTakesEffectAtTheEndOfTheBatch) {
    Medium m(3000);
    m.put(10, 0, kJpeg).put(11, 0, kJpegEnd);
    m.put(998, 0, kPng).put(999, 0, kPngEnd);
    m.put(1500, 0, kJpeg).put(1501, 0, kJpegEnd);
    MemorySource source(m.bytes);
    Scanner s(allTypes());
    s.stop = 1;  // asked for before the first batch ends
    EXPECT_EQ(s.scan(source, 0, 3000), (Files{{"File1.JPEG", 10, 2}, {"File1.PNG", 998, 2}}));
    EXPECT_EQ(s.page.stopSelections, 1);
    EXPECT_EQ(s.page.scanPosition.load(), 999u);

    Scanner done(allTypes());
    EXPECT_EQ(done.scan(source, 0, 3000).size(), 3u);
    EXPECT_EQ(done.page.stopSelections, 0);
}

TEST(ScanDriver, StartRunsOnTheSessionsScanThread) {
    Session& session = kestrum::session();
    session.fileTypes = typesOf({"JPEG"});
    session.foundFiles.clear();
    session.rangeStart = 0;
    session.rangeEnd = 3000;
    session.scanStopRequested = 1;  // left over from an earlier scan
    Medium m(3000);
    m.put(2500, 0, kJpeg).put(2501, 0, kJpegEnd);
    MemorySource source(m.bytes);
    TestPage page;

    // Held at the first batch's end while the page "asks", then told to stop.
    page.pauseGate.pause();
    ASSERT_TRUE(startScan(page, source, {}));
    EXPECT_EQ(session.scanStopRequested.load(), 0);
    EXPECT_EQ(session.resultsPage.load(), &page);
    EXPECT_FALSE(startScan(page, source, {}));  // one scan at a time
    session.scanStopRequested = 1;
    page.pauseGate.resume();
    session.scanThread.waitUntilIdle();
    EXPECT_EQ(session.foundFiles.size(), 0u);
    EXPECT_EQ(page.stopSelections, 1);
    EXPECT_LT(page.scanPosition.load(), 1000u);

    // Run to the end this time.
    session.fileTypes = typesOf({"JPEG"});
    ASSERT_TRUE(startScan(page, source, {}));
    session.scanThread.waitUntilIdle();
    const ScanProgress p = scanProgress(page);
    EXPECT_FALSE(p.running);
    EXPECT_EQ(p.filesFound, 1u);
    EXPECT_EQ(p.position, 3000u);
    EXPECT_EQ(p.percent, 100u);
    EXPECT_EQ(session.foundFiles.at(0)->startSector, 2500u);

    session.fileTypes.clear();
    session.foundFiles.clear();
    session.resultsPage = nullptr;
    session.rangeEnd = 0;
}

TEST(ScanDriver, ReadsTheSessionsImageThroughOneOpen) {
    // Twenty batches of an image file, with a picture in the last.
    Medium m(20000);
    m.put(19500, 0, kJpeg).put(19501, 0, kJpegEnd);
    kestrum::test::TempDir dir;
    kestrum::test::writeFile(dir.file(kSingleImageName), m.bytes);
    Session& s = session();
    s.chooseSource(SourceSpec::imageFolder(dir.path(), false));
    closeDeviceHandle();
    const uint64_t opensBefore = platform::SourceFile::opensSoFar();
    Scanner scanner(typesOf({"JPEG"}));
    const ScanJob job{scanner.types, scanner.found, sessionSectorSource(), 0,
                      20000,         scanner.stop,  scanner.page,          {}};
    EXPECT_EQ(runClassicScan(job), 0);
    EXPECT_EQ(scanner.found.size(), 1u);
    EXPECT_EQ(platform::SourceFile::opensSoFar() - opensBefore, 1u);
    closeDeviceHandle();
    s.source.store(SourceSpec{});
}
