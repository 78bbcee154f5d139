// The thorough detector, driven by the scan loop with fake carvers over in-memory
// media: what is listed and how long, what is stepped over, where a file is cut,
// batch edges and the stop request.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "MemorySource.h"
#include "carve/SizeCeiling.h"
#include "filetypes/Catalogue.h"
#include "scan/ThoroughDetector.h"

namespace kestrum::carve {
namespace {

using test::Medium;
using test::MemorySource;

// A fake file: "FAK" and a kind letter, its length (LE32 at 4), a partial flag at
// 8; a whole file ends in "END!", so a walk that reads the wrong bytes rejects it.
std::string_view typeOfKind(uint8_t kind) {
    switch (kind) {
        case 'J':
            return "JPEG";
        case 'P':
            return "PNG";
        case 'D':
            return "DIVX";
        default:
            return "NONE";
    }
}

bool fakeQuick(const uint8_t* s) {
    return std::memcmp(s, "FAK", 3) == 0;
}

std::optional<Carved> fakeCarve(ByteReader& r) {
    const auto kind = r.u8(3);
    const auto length = r.le32(4);
    const auto flag = r.u8(8);
    if (!kind || !length || !flag || *length < 16) return std::nullopt;
    const std::string_view type = typeOfKind(*kind);
    if (*length > r.limit()) return Carved{type, r.limit(), true};
    char end[4];
    if (!r.readExact(*length - 4, end, 4) || std::memcmp(end, "END!", 4) != 0) return std::nullopt;
    // Byte 10: how many leading sectors the walk checked (0 = all of it); byte 11
    // where the unchecked payload ends (0 = at the end); byte 12 a sector the
    // file's own index vouches for.
    Carved c{type, *length, *flag != 0, uint64_t{r.u8(10).value_or(0)} * 512,
             uint64_t{r.u8(11).value_or(0)} * 512};
    if (const uint8_t own = r.u8(12).value_or(0)) c.ownStarts.push_back(uint64_t{own} * 512);
    return c;
}

// Passes every "FAK" sector and claims it only when byte 9 is 'G'.
std::optional<Carved> greedyCarve(ByteReader& r) {
    if (r.u8(9) != uint8_t{'G'}) return std::nullopt;
    return Carved{"PNG", 512, false};
}

// Raises the scan's stop flag, then walks far beyond the batch and claims a
// file whatever the reads gave.
std::atomic<uint8_t>* stopFlagOfTheScan = nullptr;
bool stopperQuick(const uint8_t* s) {
    return std::memcmp(s, "STOP", 4) == 0;
}
std::optional<Carved> stopperCarve(ByteReader& r) {
    stopFlagOfTheScan->store(1);
    uint8_t far[16];
    const size_t got = r.read(600 * 1024, far, sizeof far);
    return Carved{"JPEG", uint64_t{got == 0 ? 700u : 650u} * 1024, false};
}

constexpr std::array<std::string_view, 4> kFakeTypes{"JPEG", "PNG", "DIVX", "NONE"};
constexpr std::array<std::string_view, 1> kGreedyTypes{"PNG"};
constexpr std::array<std::string_view, 1> kStopperTypes{"JPEG"};
const std::array<CarverEntry, 3> kTable{{
    {"stopper", kStopperTypes, stopperQuick, stopperCarve},
    {"greedy", kGreedyTypes, fakeQuick, greedyCarve},
    {"fake", kFakeTypes, fakeQuick, fakeCarve},
}};

void putFile(Medium& m, uint64_t sector, char kind, uint32_t length, bool partial = false) {
    m.put(sector, 0, {'F', 'A', 'K', static_cast<uint8_t>(kind)});
    m.putLE32(sector, 4, length);
    m.put(sector, 8, {static_cast<uint8_t>(partial ? 1 : 0)});
    const uint64_t end = sector * 512 + length - 4;
    m.put(end / 512, end % 512, std::string_view("END!"));
}

TypeList typesOf(std::initializer_list<const char*> names, const char* sizeKb = "2000") {
    std::vector<SelectedType> rows;
    for (const char* n : names) rows.push_back({n, sizeKb});
    return buildSelection(rows, true);
}

class StopPage : public ResultsPage {
public:
    void selectFirstTypeOnStop() override { ++stops; }
    int stops = 0;
};

struct ScanResult {
    std::vector<FileInfo> files;
    std::vector<FileInfo> thumbnails;
    int stops = 0;
    uint64_t position = 0;
};

ScanResult scan(const Medium& m, TypeList& types, uint64_t start, uint64_t end, bool stop = false,
                MemorySource* source = nullptr) {
    MemorySource own(m.bytes);
    FoundFileList found;
    std::atomic<uint8_t> stopFlag{static_cast<uint8_t>(stop ? 1 : 0)};
    StopPage page;
    ScanResult run;
    const ScanJob job{
        types, found, source ? *source : own, start, end, stopFlag, page, [&](FileInfo f) {
            run.thumbnails.push_back(f);
            return 1;
        }};
    stopFlagOfTheScan = &stopFlag;
    EXPECT_EQ(runThoroughScan(job, kTable), 0);
    run.files = found.snapshot();
    run.stops = page.stops;
    run.position = page.scanPosition.load();
    return run;
}

TEST(ThoroughScan, ListsChosenTypesWithExactLengthsAndStepsOverTheRest) {
    Medium m(80);
    putFile(m, 3, 'J', 1300);
    putFile(m, 4, 'J', 600);    // inside the first file: never looked at
    putFile(m, 10, 'P', 5000);  // PNG not chosen: passed over with what it holds
    putFile(m, 12, 'J', 600);
    putFile(m, 30, 'X', 1024);  // a family's file of no catalogue type
    putFile(m, 40, 'J', 2048, true);
    putFile(m, 50, 'D', 700);
    m.put(60, 0, std::string_view("FAKJ"));        // a look-alike: no length, no end
    m.put(61, 0, std::string_view("FAKPxxxxxG"));  // the first carver in the table wins
    TypeList types = typesOf({"JPEG", "DIVX"});
    ASSERT_EQ(types.size(), 2u);  // DIVX has a record in thorough mode
    const ScanResult run = scan(m, types, 0, 80);
    ASSERT_EQ(run.files.size(), 3u);
    EXPECT_STREQ(run.files[0].fileName, "File1.JPEG");
    EXPECT_EQ(run.files[0].startSector, 3u);
    EXPECT_EQ(run.files[0].sectorCount, 3u);
    EXPECT_EQ(run.files[0].byteLength, 1300u);
    EXPECT_FALSE(run.files[0].partial);
    EXPECT_STREQ(run.files[1].fileName, "File2.JPEG");
    EXPECT_EQ(run.files[1].startSector, 40u);
    EXPECT_EQ(run.files[1].byteLength, 2048u);
    EXPECT_TRUE(run.files[1].partial);
    EXPECT_STREQ(run.files[2].fileName, "File1.DIVX");
    EXPECT_EQ(run.files[2].startSector, 50u);
    EXPECT_EQ(types[0].foundCount, 1);  // DIVX comes first in catalogue order
    EXPECT_EQ(types[1].foundCount, 2);
    EXPECT_EQ(run.position, 80u);

    // The greedy carver's PNG, once PNG is chosen.
    TypeList png = typesOf({"PNG"});
    const ScanResult withPng = scan(m, png, 0, 80);
    ASSERT_EQ(withPng.files.size(), 2u);
    EXPECT_EQ(withPng.files[0].startSector, 10u);
    EXPECT_EQ(withPng.files[0].byteLength, 5000u);
    EXPECT_EQ(withPng.files[1].startSector, 61u);
    EXPECT_EQ(withPng.files[1].byteLength, 512u);

    // Numbering goes on from the counts the list already has, as in the classic scan.
    const ScanResult again = scan(m, types, 0, 80);
    ASSERT_EQ(again.files.size(), 3u);
    EXPECT_STREQ(again.files[0].fileName, "File3.JPEG");
}

TEST(ThoroughScan, AFileFoundInsideUncheckedPayloadEndsTheOneBeforeIt) {
    Medium m(200);
    putFile(m, 2, 'J', 40 * 512);
    m.put(2, 10, {2});         // only its first two sectors vouch for themselves
    putFile(m, 20, 'J', 600);  // so this one shows where it really ended
    putFile(m, 100, 'J', 20 * 512);
    m.put(100, 10, {1});
    m.put(105, 0, std::string_view("FAKJ"));  // a look-alike inside: the file stays whole
    TypeList types = typesOf({"JPEG"});
    const ScanResult run = scan(m, types, 0, 200);
    ASSERT_EQ(run.files.size(), 3u);
    EXPECT_EQ(run.files[0].startSector, 2u);
    EXPECT_EQ(run.files[0].byteLength, 18u * 512);  // up to the sector of the newer file
    EXPECT_TRUE(run.files[0].partial);
    EXPECT_EQ(run.files[1].startSector, 20u);
    EXPECT_EQ(run.files[1].byteLength, 600u);
    EXPECT_EQ(run.files[2].startSector, 100u);
    EXPECT_EQ(run.files[2].byteLength, 20u * 512);
    EXPECT_FALSE(run.files[2].partial);
    // Held when the range ends: listed as measured.
    const ScanResult cut = scan(m, types, 100, 110);
    ASSERT_EQ(cut.files.size(), 1u);
    EXPECT_EQ(cut.files[0].byteLength, 10u * 512);
    EXPECT_TRUE(cut.files[0].partial);
}

TEST(ThoroughScan, OnlyAWholeFileInUncheckedPayloadEndsTheHeldOne) {
    Medium m(200);
    putFile(m, 2, 'J', 40 * 512);
    m.put(2, 10, {2});
    putFile(m, 10, 'J', 600, true);  // a broken one inside proves nothing
    putFile(m, 30, 'J', 600);        // a whole one does
    putFile(m, 100, 'J', 20 * 512);
    m.put(100, 10, {1, 10});    // payload in sectors 1..9, a checked tail after it
    putFile(m, 112, 'J', 600);  // inside the checked tail: never looked at
    putFile(m, 150, 'J', 20 * 512);
    m.put(150, 10, {1, 0, 5});  // its index puts a piece of its own at sector 5
    putFile(m, 155, 'J', 600);
    TypeList types = typesOf({"JPEG"});
    const ScanResult run = scan(m, types, 0, 200);
    ASSERT_EQ(run.files.size(), 4u);
    EXPECT_EQ(run.files[0].startSector, 2u);
    EXPECT_EQ(run.files[0].byteLength, 28u * 512);
    EXPECT_TRUE(run.files[0].partial);
    EXPECT_EQ(run.files[1].startSector, 30u);
    EXPECT_EQ(run.files[2].startSector, 100u);
    EXPECT_EQ(run.files[2].byteLength, 20u * 512);
    EXPECT_FALSE(run.files[2].partial);
    EXPECT_EQ(run.files[3].startSector, 150u);
    EXPECT_EQ(run.files[3].byteLength, 20u * 512);
    EXPECT_FALSE(run.files[3].partial);
}

TEST(ThoroughScan, AFileIsCutAtTheRangeEndAndAtAChangedMaximumSize) {
    Medium m(5000);
    putFile(m, 5, 'J', 5000);
    putFile(m, 7, 'J', 600);  // beyond the 2 KB cut, still inside the file
    putFile(m, 20, 'J', 10 * 512);

    TypeList small = typesOf({"JPEG"}, "2");
    ScanResult run = scan(m, small, 0, 23);
    ASSERT_EQ(run.files.size(), 2u);
    EXPECT_EQ(run.files[0].byteLength, 2048u);
    EXPECT_EQ(run.files[0].sectorCount, 4u);
    EXPECT_TRUE(run.files[0].partial);
    EXPECT_EQ(run.files[1].startSector, 20u);  // only its 3 sectors inside the range
    EXPECT_EQ(run.files[1].byteLength, 3u * 512);
    EXPECT_EQ(run.files[1].sectorCount, 3u);
    EXPECT_TRUE(run.files[1].partial);

    // The default maximum size does not cut: a 2100 KB picture is listed whole.
    putFile(m, 100, 'J', 2100 * 1024);
    TypeList byDefault = typesOf({"JPEG"});
    run = scan(m, byDefault, 100, 5000);
    ASSERT_EQ(run.files.size(), 1u);
    EXPECT_EQ(run.files[0].byteLength, 2100u * 1024);
    EXPECT_FALSE(run.files[0].partial);

    EXPECT_EQ(sizeCeiling("JPEG", &byDefault[0]), uint64_t{1} << 30);
    EXPECT_EQ(sizeCeiling("NEF", nullptr), uint64_t{1} << 30);
    EXPECT_EQ(sizeCeiling("MP4", nullptr), uint64_t{64} << 30);
    EXPECT_EQ(sizeCeiling("WAV", nullptr), uint64_t{64} << 30);
    EXPECT_EQ(sizeCeiling("JPEG", &small[0]), 2048u);
}

TEST(ThoroughScan, FilesAcrossBatchEdgesAreReadWholeAndNotReadAgain) {
    const uint64_t lead = 7;  // the range does not start on a batch multiple
    Medium m(4000);
    putFile(m, 999 + lead, 'J', 600);
    putFile(m, 1001 + lead, 'J', 900 * 1024);  // runs through two batches and cache blocks
    putFile(m, 1001 + lead + 1800 + 5, 'J', 512);
    putFile(m, 3998, 'J', 512);
    MemorySource source(m.bytes);
    source.logReads = true;
    TypeList types = typesOf({"JPEG"});
    const ScanResult run = scan(m, types, lead, 3999, false, &source);
    ASSERT_EQ(run.files.size(), 4u);
    EXPECT_EQ(run.files[0].startSector, 999 + lead);
    EXPECT_EQ(run.files[1].startSector, 1001 + lead);
    EXPECT_EQ(run.files[1].byteLength, 900u * 1024);
    EXPECT_FALSE(run.files[1].partial);
    EXPECT_EQ(run.files[2].startSector, 1001 + lead + 1800 + 5);
    EXPECT_EQ(run.files[3].startSector, 3998u);
    uint64_t batchesAfterTheBigFile = 0;
    for (const auto& [start, count] : source.reads) {
        EXPECT_LE(start + count, 3999u) << "read beyond the range at " << start;
        if (count == kBatchSectors && start > 1001 + lead && start < 1001 + lead + 1800)
            ++batchesAfterTheBigFile;
    }
    EXPECT_EQ(batchesAfterTheBigFile, 0u);  // the scan goes on after the file
}

TEST(ThoroughScan, StopEndsAfterTheBatchAndEveryEleventhPictureIsThumbnailed) {
    Medium m(2000);
    for (uint64_t s = 0; s < 12; ++s) putFile(m, s * 2, 'J', 600);
    putFile(m, 1500, 'J', 600);
    TypeList types = typesOf({"JPEG"});
    const ScanResult stopped = scan(m, types, 0, 2000, true);
    EXPECT_EQ(stopped.files.size(), 12u);
    EXPECT_EQ(stopped.stops, 1);
    ASSERT_EQ(stopped.thumbnails.size(), 2u);
    EXPECT_STREQ(stopped.thumbnails[0].fileName, "File1.JPEG");
    EXPECT_STREQ(stopped.thumbnails[1].fileName, "File12.JPEG");
    EXPECT_EQ(stopped.thumbnails[1].byteLength, 600u);

    TypeList all = typesOf({"JPEG"});
    const ScanResult whole = scan(m, all, 0, 2000);
    EXPECT_EQ(whole.files.size(), 13u);
    EXPECT_EQ(whole.stops, 0);

    // A stop asked during a long walk ends the walk at once: that file and the
    // rest of the batch are not listed.
    m.put(100, 0, std::string_view("STOP"));
    putFile(m, 102, 'J', 600);
    TypeList later = typesOf({"JPEG"});
    const ScanResult cut = scan(m, later, 0, 2000);
    EXPECT_EQ(cut.files.size(), 12u);
    EXPECT_EQ(cut.stops, 1);
}

TEST(ThoroughScan, DivxIsSelectableOnlyForTheThoroughScan) {
    std::vector<SelectedType> rows{{"DIVX", "2000"}, {"AVI", "2000"}};
    EXPECT_EQ(buildSelection(rows).size(), 1u);
    const TypeList thorough = buildSelection(rows, true);
    ASSERT_EQ(thorough.size(), 2u);
    EXPECT_STREQ(thorough[1].extName, "DIVX");
    EXPECT_EQ(thorough[1].maxSizeBytes, 2000 * 1024);
}

}  // namespace
}  // namespace kestrum::carve
