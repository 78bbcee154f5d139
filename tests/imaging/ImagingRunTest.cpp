// The imaging engine against real files: exact ranges, pieces of 650 MiB, the
// leftover piece, Stop, failures that must not read as success, the start checks.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "../saving/IoTestSupport.h"
#include "app/Reports.h"
#include "imaging/ImagingRun.h"
#include "imaging/RescueMap.h"
#include "platform/Files.h"

namespace kestrum {
namespace {
namespace fs = std::filesystem;
using test::expectedSectors;
using test::readFile;

class ImagingTest : public ::testing::Test {
protected:
    static void runToEnd(ImagingRun& run, const std::string& folder, bool multiFile) {
        ASSERT_TRUE(run.start(folder, multiFile));
        imagingThread().waitUntilIdle();
    }
    static std::string lines(const std::vector<std::string>& v) {
        std::string s;
        for (const auto& l : v) s += "\r\n" + l;
        return s;
    }

    test::LogFolder logs;
    test::ScriptedPrompter prompter;
    test::ScopedPrompter scoped{prompter};
};

TEST_F(ImagingTest, ImageHoldsExactlyTheRange) {
    test::SourceImage source(40);
    const struct {
        uint64_t start, end;
    } ranges[] = {{0, 16}, {0, 13}, {3, 8}, {5, 6}, {7, 24}, {0, 40}};
    for (const auto& r : ranges) {
        SCOPED_TRACE(testing::Message() << r.start << ".." << r.end);
        test::TempDir dest;
        session().rangeStart.store(r.start);
        session().rangeEnd.store(r.end);
        ImagingRun run;
        runToEnd(run, dest.path() + "/", false);
        const std::string image = dest.file("Image0.img");
        EXPECT_EQ(run.outcome(), ImagingOutcome::Completed);
        EXPECT_EQ(readFile(image), expectedSectors(r.start, r.end - r.start));
        EXPECT_EQ(run.destinationFolder(), dest.path() + "/");
        EXPECT_EQ(run.lastFileName.load(), image);
        EXPECT_EQ(run.currentSectorText(), std::to_string(r.end) + " / " + std::to_string(r.end));
        EXPECT_EQ(run.progressPercent(), 100);
        EXPECT_FALSE(fs::exists(dest.file("Image1.img")));
    }
}

TEST_F(ImagingTest, RangeBeyond32BitSectors) {
    const uint64_t start = (uint64_t{1} << 32) + 5;
    std::vector<uint64_t> stamped;
    for (uint64_t n = start; n < start + 11; ++n) stamped.push_back(n);
    test::SourceImage source(start + 16, stamped);  // sparse, 2 TiB long
    test::TempDir dest;
    ImagingRun run(start, start + 11);
    runToEnd(run, dest.path(), true);
    EXPECT_EQ(readFile(dest.file("Image0.img")), expectedSectors(start, 11));
    EXPECT_EQ(run.currentSectorText(), "4294967312 / 4294967312");
}

TEST_F(ImagingTest, CompletedRunMessageAndActivityLog) {
    test::SourceImage source(16);
    test::TempDir dest;
    ImagingRun run(0, 16);
    runToEnd(run, dest.path(), false);
    EXPECT_EQ(run.finalMessage(), "Image creation completed successfully.");
    EXPECT_EQ(run.finalIcon(), MessageIcon::Information);
    run.appendActivityLog();
    EXPECT_EQ(logs.text(LogKind::Activity),
              "\r\n\r\nAnalysing Disk Imaging Information :\r\nCurrent Sector : 16 / 16"
              "\r\nLast File : " +
                  dest.file("Image0.img") + "\r\nDisk Imaging Completed Successfully\r\n");
}

TEST_F(ImagingTest, ReadOnlyEarlierImageIsReplaced) {
    test::SourceImage source(16);
    test::TempDir dest;
    const std::string image = dest.file("Image0.img");
    test::writeFile(image, std::vector<uint8_t>(40960, 0xEE));
    ::chmod(image.c_str(), 0444);
    ImagingRun run(0, 16);
    runToEnd(run, dest.path(), false);
    EXPECT_EQ(run.outcome(), ImagingOutcome::Completed);
    EXPECT_EQ(readFile(image), expectedSectors(0, 16));
    EXPECT_EQ(::access(image.c_str(), W_OK), 0);
}

TEST_F(ImagingTest, StopEndsAfterTheCurrentChunk) {
    constexpr uint64_t kChunk = 2048;  // a megabyte a request
    constexpr uint64_t kEnd = 4 * kChunk;
    test::SourceImage source(kEnd);
    test::TempDir dest;
    test::writeFile(dest.file("Image1.img"), std::string("older, longer image"));

    // Asked for before the first chunk: exactly one chunk is written.
    ImagingRun early(0, kEnd);
    early.prepare(dest.path(), true);
    imagingStopRequested.store(1);
    EXPECT_EQ(early.work(), 0);
    EXPECT_EQ(early.outcome(), ImagingOutcome::Aborted);
    EXPECT_EQ(readFile(dest.file("Image0.img")), expectedSectors(0, kChunk));
    EXPECT_EQ(early.currentSectorText(), "2048 / 8192");

    // Confirmed while the last chunk is written: still aborted, never a success.
    ImagingRun last(0, kChunk);
    last.prepare(dest.path(), true);
    imagingStopRequested.store(1);
    EXPECT_EQ(last.work(), 0);
    EXPECT_EQ(last.finalMessage(), "Image creation aborted.");
    EXPECT_TRUE(fs::exists(dest.file("Image1.img")));  // the leftover stays too

    // Through the Stop button while the worker runs: it is held between chunks,
    // so it can have written one chunk or two, and the image matches its position.
    ImagingRun run(0, kEnd);
    EXPECT_FALSE(run.stop([] { return true; }));  // nothing runs yet
    run.pauseGate.pause();
    ASSERT_TRUE(run.start(dest.path(), true));
    EXPECT_TRUE(run.stop([] { return true; }));
    imagingThread().waitUntilIdle();
    EXPECT_EQ(run.outcome(), ImagingOutcome::Aborted);
    const uint64_t reached = run.currentSector.load();
    EXPECT_TRUE(reached == kChunk || reached == 2 * kChunk) << reached;
    EXPECT_EQ(readFile(dest.file("Image0.img")), expectedSectors(0, reached));
    EXPECT_EQ(run.progressPercent(), int(reached * 100 / kEnd));
    EXPECT_TRUE(fs::exists(dest.file("Image1.img")));  // only a full run clears leftovers
    EXPECT_EQ(run.finalMessage(), "Image creation aborted.");
    EXPECT_EQ(run.finalIcon(), MessageIcon::Error);
    EXPECT_EQ(run.activityLogLines().back(), "Disk Imaging Aborted\r\n");
}

TEST_F(ImagingTest, PieceThatCannotBeCreatedFailsTheRun) {
    test::SourceImage source(16);
    test::TempDir dest;
    fs::create_directory(dest.file("Image0.img"));
    ImagingRun run(0, 16);
    runToEnd(run, dest.path(), true);
    EXPECT_EQ(run.outcome(), ImagingOutcome::Failed);
#ifdef _WIN32
    const int refusal = EISDIR;  // the Windows layer names the folder in the way
#else
    const int refusal = EEXIST;
#endif
    const std::string reason =
        "Could not create " + dest.file("Image0.img") + ": " + std::strerror(refusal);
    EXPECT_EQ(run.failureReason.load(), reason);
    EXPECT_EQ(run.finalMessage(), "Image creation failed. " + reason + ".");
    EXPECT_EQ(run.finalIcon(), MessageIcon::Error);
    const auto log = lines(run.activityLogLines());
    EXPECT_TRUE(log.ends_with("\r\nReason : " + reason + "\r\nDisk Imaging Failed\r\n")) << log;
    EXPECT_EQ(log.find("Successfully"), std::string::npos);
}

TEST_F(ImagingTest, WriteErrorFailsTheRun) {
    KESTRUM_LINUX_ONLY("a file size limit (setrlimit in a forked child)");
#ifndef _WIN32
    test::SourceImage source(32);
    test::TempDir dest;
    ImagingRun run(0, 32);
    // No file may grow past 10000 bytes: the third chunk is cut short.
    const std::string out = test::runWithFileSizeLimit(10000, [&] {
        run.prepare(dest.path(), false);
        const int result = run.work();
        std::ostringstream s;
        s << result << '\n' << int(run.outcome()) << '\n' << run.failureReason.load();
        return s.str();
    });
    const std::string image = dest.file("Image0.img");
    EXPECT_EQ(out, "0\n" + std::to_string(int(ImagingOutcome::Failed)) + "\nCould not write " +
                       image + ": " + std::strerror(EFBIG));
    EXPECT_EQ(fs::file_size(image), 10000u);
#endif
}

TEST_F(ImagingTest, MultifileWritesPiecesAndDeletesLeftovers) {
    const uint64_t sectors = 2 * kPieceSectors + 1;  // 2,662,401
    const std::vector<uint64_t> stamped{0,
                                        7,
                                        kPieceSectors - 1,
                                        kPieceSectors,
                                        kPieceSectors + 9,
                                        2 * kPieceSectors - 1,
                                        2 * kPieceSectors};
    test::TempDir dest;
    const auto free = platform::freeBytesOf(dest.path());
    const uint64_t needed = sectors * kSectorSize;
    if (!free || *free < needed + (uint64_t{512} << 20))
        GTEST_SKIP() << "needs " << (needed >> 20) << " MiB free in " << dest.path()
                     << " for the pieces";
    test::SourceImage source(sectors, stamped);  // sparse: costs no disk
    test::writeFile(dest.file("Image3.img"), std::string("left from a longer image"));
    test::writeFile(dest.file("image4.img"), std::string("and another"));
    test::writeFile(dest.file("Image6.img"), std::string("not next in line"));

    ImagingRun run(0, sectors);
    ASSERT_EQ(run.checkStart(dest.path()), "");
    runToEnd(run, dest.path(), true);
    ASSERT_EQ(run.outcome(), ImagingOutcome::Completed) << run.failureReason.load();
    EXPECT_EQ(fs::file_size(dest.file("Image0.img")), 681574400u);
    EXPECT_EQ(fs::file_size(dest.file("Image1.img")), 681574400u);
    EXPECT_EQ(fs::file_size(dest.file("Image2.img")), 512u);
    EXPECT_FALSE(fs::exists(dest.file("Image3.img")));
    EXPECT_FALSE(fs::exists(dest.file("image4.img")));
    EXPECT_TRUE(fs::exists(dest.file("Image6.img")));
    EXPECT_EQ(run.lastFileName.load(), dest.file("Image2.img"));

    // Each stamped sector sits in its piece at its place; unstamped ones are zeros.
    uint8_t got[kSectorSize];
    auto sectorAt = [&](uint64_t n) {
        const std::string piece = dest.file("Image" + std::to_string(n / kPieceSectors) + ".img");
        std::ifstream in(piece, std::ios::binary);
        in.seekg(static_cast<std::streamoff>((n % kPieceSectors) * kSectorSize));
        in.read(reinterpret_cast<char*>(got), kSectorSize);
        return in.gcount() == kSectorSize ? std::vector<uint8_t>(got, got + kSectorSize)
                                          : std::vector<uint8_t>{};
    };
    for (uint64_t n : stamped) EXPECT_EQ(sectorAt(n), expectedSectors(n, 1)) << "sector " << n;
    EXPECT_EQ(sectorAt(8), std::vector<uint8_t>(kSectorSize, 0));
}

TEST_F(ImagingTest, StalePiecesOfAnyCaseNeverShadowTheNewImage) {
    KESTRUM_LINUX_ONLY("a file system that tells names apart by case");
#ifndef _WIN32
    test::SourceImage source(3000);
    for (const bool multiFile : {true, false}) {
        SCOPED_TRACE(multiFile ? "pieces" : "one file");
        test::TempDir dest;
        // An earlier 8-sector image written by another tool, in several spellings.
        for (const char* name :
             {"image0.img", "IMAGE0.IMG", "image1.img", "Image1.IMG", "iMaGe2.img"})
            test::writeFile(dest.file(name), std::vector<uint8_t>(8 * kSectorSize, 0xEE));
        // Its rescue map, which a later rescue would trust over the new image.
        RescueMap staleMap(8 * kSectorSize);
        staleMap.mark(0, 8 * kSectorSize, rescue::kFinished);
        const std::string mapText = staleMap.format("", 0, 0);
        test::writeFile(dest.file("IMAGE0.map"),
                        std::vector<uint8_t>(mapText.begin(), mapText.end()));

        ImagingRun run(0, 3000);
        ASSERT_EQ(run.checkStart(dest.path()), "");
        runToEnd(run, dest.path(), multiFile);
        ASSERT_EQ(run.outcome(), ImagingOutcome::Completed) << run.failureReason.load();
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(dest.path()))
            left.push_back(e.path().filename().string());
        // The leftovers past the new image go only when pieces are written.
        if (multiFile)
            EXPECT_EQ(left, std::vector<std::string>{"Image0.img"});
        else
            EXPECT_FALSE(fs::exists(dest.file("image0.img")) ||
                         fs::exists(dest.file("IMAGE0.IMG")));
        EXPECT_FALSE(fs::exists(dest.file("IMAGE0.map")));

        // Read back as the scan reads it, as pieces and as one image.
        const SourceSpec source = session().sourceSpec();
        session().chooseSource(SourceSpec::imageFolder(dest.path(), true));
        std::vector<uint8_t> back(3000 * kSectorSize);
        EXPECT_NE(readSectors(0, 3000, back.data(), ""), 0);
        EXPECT_EQ(back, expectedSectors(0, 3000));
        session().chooseSource(source);
    }
#endif
}

TEST_F(ImagingTest, StartChecks) {
    EXPECT_FALSE(freeSpaceSuffices(4096, 4096));  // exactly equal is refused
    EXPECT_TRUE(freeSpaceSuffices(4097, 4096));
    EXPECT_FALSE(freeSpaceSuffices(0, 0));

    test::SourceImage source(16);
    test::TempDir dest;
    EXPECT_EQ(ImagingRun(0, 16).checkStart(dest.file("missing")),
              "Image path not found. Please specify image path.");
    EXPECT_EQ(ImagingRun(8, 8).checkStart(dest.path()),
              "End sector should be bigger than start sector.");
    EXPECT_EQ(ImagingRun(0, uint64_t{1} << 50).checkStart(dest.path()),
              "Insufficient free space on destination. Please change destination path.");
    EXPECT_EQ(ImagingRun(0, 16).checkStart(dest.path()), "");
    // Into the folder of the source image: Image0.img would be the source itself.
    EXPECT_NE(ImagingRun(0, 16).checkStart(source.folder()).find("overwrite"), std::string::npos);

    // A plain file as the device source, named like the first piece.
    const SourceSpec image = session().sourceSpec();
    session().chooseSource(SourceSpec::device(source.file()));
    EXPECT_NE(ImagingRun(0, 16).checkStart(source.folder()).find("overwrite"), std::string::npos);
    EXPECT_EQ(ImagingRun(0, 16).checkStart(dest.path()), "");
    session().deviceSlots.store(initialDeviceSlots());
    session().chooseSource(image);

    // A source that cannot be opened would give an image of zeros.
    fs::remove(source.file());
    EXPECT_EQ(
        ImagingRun(0, 16).checkStart(dest.path()),
        "The source cannot be opened (" + source.file() + ": " + std::strerror(ENOENT) + ").");
}

TEST(ImagingProgress, CountsFromTheRangeStart) {
    EXPECT_EQ(progressPercent(150, 100, 200), 50);
    EXPECT_EQ(progressPercent(100, 100, 200), 0);
    EXPECT_EQ(progressPercent(200, 100, 200), 100);
    EXPECT_EQ(progressPercent(50, 100, 200), 0);
    EXPECT_EQ(progressPercent(5, 5, 5), 0);
    const uint64_t big = uint64_t{1} << 62;
    EXPECT_EQ(progressPercent(big + big / 2, big, 2 * big), 50);
}

}  // namespace
}  // namespace kestrum
