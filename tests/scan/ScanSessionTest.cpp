// Recorded scans: a scan resumed from any of its checkpoints, through the
// session file, ends with exactly the found-file list of the uninterrupted scan,
// also where a file was open at the cut; a record of another scan is refused.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "MemorySource.h"
#include "ScanTestSupport.h"
#include "TestSupport.h"
#include "scan/ClassicDetector.h"
#include "scan/ScanDriver.h"
#include "scan/ScanSession.h"
#include "scan/ThoroughDetector.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

class QuietPage : public ResultsPage {};

// Real encoder files at scattered sectors between random filler, one of them
// after a header whose file stays open over several batches.
std::vector<uint8_t> buildMedium(bool twoPiece = false) {
    std::mt19937 random(7);
    std::vector<uint8_t> medium;
    auto filler = [&](size_t sectors) {
        for (size_t i = 0; i < sectors * 512; ++i) medium.push_back(static_cast<uint8_t>(random()));
    };
    const char* files[] = {"jpeg-exif.jpg", "picture.png",           "tone.mp3",
                           "clip.mkv",      "picture.gif",           "tone.wav",
                           "picture.bmp",   "jpeg-jfif.jpg",         "clip.avi",
                           "picture.psd",   "clip-doctype-first.mkv"};
    int n = 0;
    for (const char* name : files) {
        filler(1 + random() % 1500);
        const auto bytes = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/" + name);
        medium.insert(medium.end(), bytes.begin(), bytes.end());
        medium.resize((medium.size() + 511) / 512 * 512);
        // JPEG headers whose end lies 2500 sectors on: open across batch ends.
        if (++n % 4 == 0) {
            const auto jpeg = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/jpeg-jfif.jpg");
            medium.insert(medium.end(), jpeg.begin(), jpeg.begin() + 512);
            filler(2500);
        }
    }
    // Thorough only: a picture split around a file (A1 X A2), then one whose rest
    // is lost (B1 X Y), each with a batch edge just after X: the first is joined at
    // once, the second waits for Y while a checkpoint falls.
    TempDir dir;
    if (twoPiece) {
        const auto x = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/jpeg-exif.jpg");
        const auto y = readFile(std::string(KESTRUM_TEST_DATA_DIR) + "/picture.png");
        for (const int seed : {11, 12}) {
            const std::string path = dir.file(std::to_string(seed) + ".jpg");
            if (runCommand("convert -seed " + std::to_string(seed) +
                           " -size 900x700 plasma:fractal -quality 92 " + path) != 0)
                break;
            const auto a = readFile(path);
            const size_t half = a.size() / 512 / 2 * 512;
            const size_t run = (half + x.size() + 511) / 512 + 10;  // ends 10 sectors early
            filler((kBatchSectors * 2 - (medium.size() / 512 - 3 + run) % kBatchSectors) %
                   kBatchSectors);
            for (const auto& piece :
                 {std::vector<uint8_t>(a.begin(), a.begin() + half), x,
                  seed == 11 ? std::vector<uint8_t>(a.begin() + half, a.end()) : y}) {
                medium.insert(medium.end(), piece.begin(), piece.end());
                medium.resize((medium.size() + 511) / 512 * 512);
            }
        }
    }
    filler(700);
    return medium;
}

// Every field of every found file: a resumed scan must save what the whole one does.
std::vector<std::string> listOf(const FoundFileList& found) {
    std::vector<std::string> out;
    for (const FileInfo& f : found.snapshot())
        out.push_back(std::string(f.extName) + " " + f.fileName + "@" +
                      std::to_string(f.startSector) + "+" + std::to_string(f.sectorCount) +
                      " checked " + std::to_string(f.checked) + " bytes " +
                      std::to_string(f.byteLength) + (f.partial ? " partial" : "") +
                      (f.damaged ? " damaged" : "") + " join " + std::to_string(f.joinSector) +
                      "/" + std::to_string(f.firstPieceBytes));
    return out;
}

struct ScanRun {
    TypeList types = allTypes();
    FoundFileList found;
    std::atomic<uint8_t> stop{0};
    QuietPage page;
    bool thorough = false;

    void scan(SectorSource& source, uint64_t start, uint64_t end, ScanHooks hooks) {
        const ScanJob job{types,
                          found,
                          source,
                          start,
                          end,
                          stop,
                          page,
                          nullptr,
                          std::move(hooks.resume),
                          std::move(hooks.checkpoint)};
        if (thorough)
            runThoroughScan(job);
        else
            runClassicScan(job);
    }
};

ScanIdentity identityFor(uint64_t bytes, uint64_t start, uint64_t end) {
    ScanIdentity id;
    id.source = "/media/card.img";
    id.sourceBytes = bytes;
    id.rangeStart = start;
    id.rangeEnd = end;
    id.types = typesText(allTypes());
    return id;
}

void resumeFromEveryCheckpoint(bool thorough, bool joins = false) {
#ifdef _WIN32
    // The two-piece pictures are made by ImageMagick, a Linux program here.
    if (joins) KESTRUM_LINUX_ONLY("ImageMagick's convert");
#endif
    const auto medium = buildMedium(joins);
    MemorySource source(medium);
    const uint64_t start = 3, end = medium.size() / 512 - 5;
    TempDir dir;

    ScanRun whole;
    whole.thorough = thorough;
    whole.scan(source, start, end, {});
    const auto reference = listOf(whole.found);
    ASSERT_GE(reference.size(), 8u);
    if (joins)
        EXPECT_EQ(std::count_if(reference.begin(), reference.end(),
                                [](const std::string& f) { return !f.ends_with("join 0/0"); }),
                  1)
            << "the two-piece picture is joined";

    // The recorded run keeps a copy of its record at every checkpoint.
    ScanRun recorded;
    recorded.thorough = thorough;
    ScanSession session(dir.file("session"), identityFor(medium.size(), start, end),
                        std::chrono::milliseconds(0));
    std::string error;
    ASSERT_TRUE(session.open(error)) << error;
    ScanHooks hooks = session.begin(recorded.types, recorded.found);
    std::vector<ScanCheckpoint> points;
    hooks.checkpoint = [&, save = hooks.checkpoint](const ScanCheckpoint& p) {
        save(p);
        points.push_back(p);
        std::filesystem::copy_file(dir.file("session"), dir.file(std::to_string(points.size())));
    };
    recorded.scan(source, start, end, std::move(hooks));
    EXPECT_EQ(listOf(recorded.found), reference) << "recording changes nothing";
    ASSERT_GT(points.size(), 10u);
    EXPECT_TRUE(points.back().finished);
    const auto openAtCut = std::count_if(points.begin(), points.end(), [](const ScanCheckpoint& p) {
        return p.resumeSector != p.batchStart;
    });
    // The thorough scan holds no file open across batches; its batch edges
    // change nothing, so it always goes on at a batch start.
    if (!thorough) {
        EXPECT_GE(openAtCut, 2) << "some cuts fall inside an open file";
    }

    for (size_t i = 1; i <= points.size(); ++i) {
        SCOPED_TRACE(testing::Message()
                     << "checkpoint " << i << " at " << points[i - 1].resumeSector);
        ScanRun resumed;
        resumed.thorough = thorough;
        ScanSession again(dir.file(std::to_string(i)), identityFor(medium.size(), start, end));
        ASSERT_TRUE(again.open(error)) << error;
        EXPECT_TRUE(again.resumed());
        resumed.scan(source, start, end, again.begin(resumed.types, resumed.found));
        EXPECT_EQ(listOf(resumed.found), reference);
        for (size_t t = 0; t < resumed.types.size(); ++t)
            EXPECT_EQ(foundCountOf(resumed.types[t]), foundCountOf(whole.types[t]));
    }
}

TEST(ScanSessionResume, EveryCheckpointLeadsToTheUninterruptedList) {
    resumeFromEveryCheckpoint(false);
}

TEST(ScanSessionResume, EveryCheckpointOfAThoroughScanLeadsToTheUninterruptedList) {
    resumeFromEveryCheckpoint(true, true);
}

TEST(ScanSessionResume, ARecordOfAnotherScanIsRefused) {
    const auto medium = buildMedium();
    MemorySource source(medium);
    const uint64_t end = medium.size() / 512;
    TempDir dir;
    const std::string path = dir.file("session");
    {
        ScanRun run;
        run.stop = 1;  // stopped after the first batch: the stop is recorded at once
        ScanSession session(path, identityFor(medium.size(), 0, end));
        std::string error;
        ASSERT_TRUE(session.open(error));
        run.scan(source, 0, end, session.begin(run.types, run.found));
    }
    ScanIdentity other = identityFor(medium.size(), 0, end);
    other.types = typesText(typesOf({"JPEG"}));
    ScanIdentity otherRange = identityFor(medium.size(), 0, end - 1);
    ScanIdentity otherSource = identityFor(medium.size(), 0, end);
    otherSource.source = "/dev/sdz";
    for (const ScanIdentity& id : {other, otherRange, otherSource}) {
        ScanSession session(path, id);
        std::string error;
        EXPECT_FALSE(session.open(error));
        EXPECT_NE(error.find("was made for another scan"), std::string::npos) << error;
    }
    ScanSession same(path, identityFor(medium.size(), 0, end));
    std::string error;
    EXPECT_TRUE(same.open(error)) << error;
    EXPECT_GT(same.resumeSector(), 0u) << "the stop was recorded";

    writeFile(path, std::string("kestrum scan session 1\nsource /media/card.img\n"));
    EXPECT_FALSE(same.open(error));
}

// A record is read back into the names and sectors that saving uses: a damaged
// or crafted line must not lead a save outside its folder or off the source.
TEST(ScanSessionRecord, HostileFileLinesAreRefusedAndEveryFieldSurvives) {
    TempDir dir;
    const std::string path = dir.file("session");
    const uint64_t sectors = 4096;
    ScanIdentity id = identityFor(sectors * 512, 0, sectors);
    id.types = typesText(typesOf({"JPEG", "PNG"}));
    id.disk = "serial=S1; bytes=2097152";
    auto record = [&](const std::string& file, const std::string& version = "2") {
        std::string text = "kestrum scan session " + version + "\nsource /media/card.img\n" +
                           "bytes 2097152\nrange 0 4096\ntypes " + id.types + "\nmode classic\n" +
                           (version == "2" ? "disk " + id.disk + "\n" : "") + "at 100 0 200 0\n" +
                           file + "end\n";
        writeFile(path, text);
        ScanSession session(path, id);
        std::string error;
        const bool ok = session.open(error);
        return ok ? std::string() : error;
    };
    const std::string good = "file JPEG 10 4 1 1900 1 0 0 0 File0.JPEG\n";
    EXPECT_EQ(record(good), "");
    EXPECT_EQ(record("file JPEG 10 4 File0.JPEG\n", "1"), "") << "the first version is read";
    for (const char* hostile : {
             "file JPEG 10 4 1 1900 1 0 0 0 ..\n",                // the folder above
             "file JPEG 10 4 1 1900 1 0 0 0 a/passwd\n",          // a path
             "file EXE 10 4 1 1900 1 0 0 0 File1.EXE\n",          // a type not looked for
             "file JPEG 4090 400 1 0 0 0 0 0 File1.JPEG\n",       // past the source's end
             "file JPEG 10 4 1 900000000 0 0 0 0 File1.JPEG\n",   // a 900 MB copy of 4 sectors
             "file JPEG 10 4 1 1900 1 0 9000 1000 File1.JPEG\n",  // a second piece off the disk
             "file JPEG 10 4 1 1900 1 0 0 0 File1.JPEG extra\n",
             "whatever\n",
         }) {
        const std::string error = record(hostile);
        EXPECT_NE(error, "") << hostile;
        EXPECT_NE(error.find("line 9"), std::string::npos) << error;
    }
    // Another disk under the same node is another scan.
    ScanSession elsewhere(path, [&] {
        ScanIdentity other = id;
        other.disk = "serial=S2; bytes=2097152";
        return other;
    }());
    record(good);
    std::string error;
    EXPECT_FALSE(elsewhere.open(error));
    EXPECT_NE(error.find("serial=S1"), std::string::npos) << error;
    // Neither a folder nor a pipe is read as a record.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_FALSE(ScanSession(path, id).open(error));
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
#ifndef _WIN32
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(ScanSession(path, id).open(error)) << "a pipe does not hold the open";
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
#endif
}

}  // namespace
