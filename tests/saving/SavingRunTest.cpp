// The saving engine against real files: sizes and content, the replace answers,
// Stop, the recovery-log report, and a destination that runs out of room.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "../platform/LoopDevice.h"
#include "IoTestSupport.h"
#include "app/Reports.h"
#include "platform/SourceFile.h"
#include "saving/SavingRun.h"

namespace kestrum {
namespace {
namespace fs = std::filesystem;
using test::expectedSectors;
using test::readFile;

FileInfo found(const char* ext, int number, uint64_t start, uint32_t count, bool checked = true) {
    FileInfo f;
    std::snprintf(f.extName, sizeof f.extName, "%s", ext);
    std::snprintf(f.fileName, sizeof f.fileName, "File%d.%s", number, ext);
    f.startSector = start;
    f.sectorCount = count;
    f.checked = checked ? 1 : 0;
    return f;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class SavingTest : public ::testing::Test {
protected:
    void SetUp() override {
        session().foundFiles.clear();
        saveStopRequested.store(0);
    }
    void TearDown() override { session().foundFiles.clear(); }

    void add(const FileInfo& f) { session().foundFiles.append(f); }
    static void runToEnd(SavingRun& run) {
        ASSERT_TRUE(run.start());
        saveThread().waitUntilIdle();
    }
    // Puts a file with recognisable old content where a record would be saved.
    void plantOld(const SavingRun& run, const FileInfo& f) {
        fs::create_directories(run.folderPathFor(f));
        test::writeFile(run.filePathFor(f), std::string("old content"));
    }
    static std::string contentOf(const std::string& path) {
        const auto bytes = readFile(path);
        return {bytes.begin(), bytes.end()};
    }

    test::LogFolder logs;
    test::ScriptedPrompter prompter;
    test::ScopedPrompter scoped{prompter};
    test::TempDir dest;
};

TEST_F(SavingTest, ASaveOpensItsSourceOnceAndCopiesExactlyTheExtents) {
    test::SourceImage source(24000);
    add(found("MPEG", 1, 100, 9000));  // several large requests
    FileInfo joined = found("JPEG", 1, 9200, 600);
    joined.byteLength = 600 * kSectorSize + 1500;
    joined.joinSector = 22000;
    joined.firstPieceBytes = 600 * kSectorSize;
    add(joined);
    add(found("JPEG", 2, 9900, 3));
    const uint64_t opensBefore = platform::SourceFile::opensSoFar();
    SavingRun run(dest.path() + "/");
    runToEnd(run);
    EXPECT_EQ(run.savedCount.load(), 3);
    EXPECT_EQ(platform::SourceFile::opensSoFar() - opensBefore, 1u) << "one open for the run";
    const auto files = session().foundFiles.snapshot();
    EXPECT_EQ(readFile(run.filePathFor(files[0])), expectedSectors(100, 9000));
    auto pieces = expectedSectors(9200, 600);
    const auto second = expectedSectors(22000, 3);
    pieces.insert(pieces.end(), second.begin(), second.begin() + 1500);
    EXPECT_EQ(readFile(run.filePathFor(files[1])), pieces);
    EXPECT_EQ(run.bytesCopied.load(), (9000 + 600 + 3) * uint64_t{kSectorSize} + 1500);
}

TEST_F(SavingTest, SavesTickedFilesIntoTypeFoldersWithExactSizes) {
    test::SourceImage source(64);
    const FileInfo files[] = {found("JPEG", 1, 0, 0), found("JPEG", 2, 1, 8),
                              found("CR2", 1, 9, 10), found("JPEG", 3, 20, 17)};
    for (const auto& f : files) add(f);
    add(found("JPEG", 4, 40, 3, false));

    const std::string destination = dest.path() + "/";
    SavingRun run(destination);
    runToEnd(run);

    for (const auto& f : files) {
        SCOPED_TRACE(f.fileName);
        const std::string path = run.filePathFor(f);
        EXPECT_EQ(path, dest.file(f.extName) + test::kSeparator + f.fileName);
        EXPECT_EQ(readFile(path), expectedSectors(f.startSector, f.sectorCount));
    }
    EXPECT_FALSE(fs::exists(dest.file("JPEG/File4.JPEG")));
    EXPECT_EQ(run.totalCount.load(), 4);
    EXPECT_EQ(run.savedCount.load(), 4);
    EXPECT_EQ(run.failedCount.load(), 0);
    EXPECT_EQ(run.countText(), "4 / 4");
    EXPECT_EQ(run.progressPercent(), 100);
    EXPECT_EQ(run.outcome(), SavingOutcome::Succeeded);
    EXPECT_EQ(run.finalMessage(), "File Saved Successfully.");
    EXPECT_GE(run.endTime.load(), run.startTime.load());

    const std::string log = logs.text(LogKind::Recovery);
    const std::regex report(
        "\r\n\r\nSaving Report :\r\n --------------\r\nSaving Path : " +
        std::regex_replace(destination, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)") +
        "\r\nFiles Recover :4 / 4\r\nStarting Time : (0[1-9]|1[0-2]):[0-5][0-9] (AM|PM)"
        "\r\nElapsed Time : 0 Mins [0-9]+ Secs\r\nFile Saved Successfully\r\n$");
    EXPECT_TRUE(std::regex_search(log, report)) << log;
}

TEST_F(SavingTest, AnExactLengthEndsTheFileInsideItsLastSectorAndPartialOnesAreReported) {
    test::SourceImage source(64);
    FileInfo exact = found("JPEG", 1, 2, 3);
    exact.byteLength = 1300;
    FileInfo partial = found("PNG", 1, 10, 20);
    partial.byteLength = 20 * 512;
    partial.partial = true;
    add(exact);
    add(partial);
    SavingRun run(dest.path());
    runToEnd(run);
    auto expected = expectedSectors(2, 3);
    expected.resize(1300);
    EXPECT_EQ(readFile(run.filePathFor(exact)), expected);
    EXPECT_EQ(readFile(run.filePathFor(partial)), expectedSectors(10, 20));
    const std::string log = logs.text(LogKind::Recovery);
    EXPECT_EQ(countOf(log, "File1.PNG (partial)"), 1u) << log;
    EXPECT_EQ(countOf(log, "File1.JPEG (partial)"), 0u) << log;
}

TEST_F(SavingTest, AJoinedFileIsSavedAsItsTwoPiecesInOneFileAndReported) {
    test::SourceImage source(64);
    FileInfo joined = found("JPEG", 2, 4, 3);
    joined.firstPieceBytes = 3 * 512;
    joined.joinSector = 30;
    joined.byteLength = 3 * 512 + 700;
    add(joined);
    SavingRun run(dest.path());
    runToEnd(run);
    auto expected = expectedSectors(4, 3);
    const auto second = expectedSectors(30, 2);
    expected.insert(expected.end(), second.begin(), second.begin() + 700);
    EXPECT_EQ(readFile(run.filePathFor(joined)), expected);
    EXPECT_EQ(countOf(logs.text(LogKind::Recovery), "File2.JPEG (joined)"), 1u);
}

TEST_F(SavingTest, UsesTheWhole64BitStartSector) {
    const uint64_t start = (uint64_t{1} << 32) + 3;
    std::vector<uint64_t> stamped;
    for (uint64_t n = start; n < start + 10; ++n) stamped.push_back(n);
    test::SourceImage source(start + 16, stamped);
    const FileInfo f = found("PNG", 1, start, 10);
    add(f);
    SavingRun run(dest.path());
    runToEnd(run);
    EXPECT_EQ(readFile(run.filePathFor(f)), expectedSectors(start, 10));
}

TEST_F(SavingTest, ReplaceAnswersDecideEachExistingFile) {
    KESTRUM_LINUX_ONLY("symbolic links made by an ordinary user");
#ifndef _WIN32
    test::SourceImage source(16);
    SavingRun run(dest.path());
    std::vector<FileInfo> files;
    for (int i = 1; i <= 5; ++i) {
        files.push_back(found("JPEG", i, uint64_t(i), 2));
        plantOld(run, files.back());
        add(files.back());
    }
    // File1 is a link this time: replacing it must not write through it.
    const std::string victim = dest.file("victim");
    test::writeFile(victim, std::string("keep me"));
    fs::remove(run.filePathFor(files[0]));
    fs::create_symlink(victim, run.filePathFor(files[0]));

    prompter.answers = {ReplaceAnswer::Yes, ReplaceAnswer::No, ReplaceAnswer::Cancel,
                        ReplaceAnswer::YesToAll};
    runToEnd(run);

    EXPECT_EQ(prompter.asked,
              (std::vector<std::string>{"File1.JPEG", "File2.JPEG", "File3.JPEG", "File4.JPEG"}));
    const auto fresh = [&](int i) {
        return readFile(run.filePathFor(files[i])) == expectedSectors(i + 1, 2);
    };
    EXPECT_TRUE(fresh(0));
    EXPECT_FALSE(fs::is_symlink(run.filePathFor(files[0])));
    EXPECT_EQ(contentOf(victim), "keep me");
    EXPECT_EQ(contentOf(run.filePathFor(files[1])), "old content");
    EXPECT_EQ(contentOf(run.filePathFor(files[2])), "old content");
    EXPECT_TRUE(fresh(3));
    EXPECT_TRUE(fresh(4));
    EXPECT_EQ(run.savedCount.load(), 3);  // only what was written
    EXPECT_EQ(run.keptCount.load(), 2);
    EXPECT_EQ(run.progressPercent(), 100);
    EXPECT_EQ(run.outcome(), SavingOutcome::Succeeded);
    EXPECT_EQ(run.finalMessage(),
              "File Saved Successfully. 3 file(s) saved, 2 file(s) already there were kept.");
#endif
}

TEST_F(SavingTest, NoToAllKeepsLaterFilesForThisRunOnly) {
    test::SourceImage source(16);
    SavingRun run(dest.path());
    std::vector<FileInfo> files;
    for (int i = 1; i <= 4; ++i) {
        files.push_back(found("GIF", i, uint64_t(i), 1));
        if (i != 3) plantOld(run, files.back());
        add(files.back());
    }
    prompter.answers = {ReplaceAnswer::NoToAll};
    runToEnd(run);

    EXPECT_EQ(prompter.asked, std::vector<std::string>{"File1.GIF"});
    for (int i : {0, 1, 3}) EXPECT_EQ(contentOf(run.filePathFor(files[i])), "old content");
    EXPECT_EQ(readFile(run.filePathFor(files[2])), expectedSectors(3, 1));
    EXPECT_EQ(run.savedCount.load(), 1);
    EXPECT_EQ(run.keptCount.load(), 3);

    // The next run starts without the earlier decision.
    SavingRun again(dest.path());
    prompter.answers = {ReplaceAnswer::No};
    runToEnd(again);
    EXPECT_EQ(prompter.asked.size(), 1u + 4u);
}

TEST_F(SavingTest, ARunThatKeptEveryFileWroteNothingAndDoesNotClaimSuccess) {
    test::SourceImage source(16);
    std::vector<FileInfo> files;
    for (int i = 1; i <= 6; ++i) {
        files.push_back(found("JPEG", i, uint64_t(i), 1));
        add(files.back());
    }
    for (ReplaceAnswer answer : {ReplaceAnswer::NoToAll, ReplaceAnswer::Cancel}) {
        SavingRun run(dest.path());
        for (const FileInfo& f : files) plantOld(run, f);
        // Cancel (Escape) is asked for every file; No to ALL only once.
        prompter.answers = std::deque<ReplaceAnswer>(6, answer);
        runToEnd(run);
        for (const FileInfo& f : files) EXPECT_EQ(contentOf(run.filePathFor(f)), "old content");
        EXPECT_EQ(run.savedCount.load(), 0);
        EXPECT_EQ(run.keptCount.load(), 6);
        EXPECT_EQ(run.outcome(), SavingOutcome::NothingWritten);
        EXPECT_EQ(run.finalMessage(), "No file was saved: the 6 file(s) already there were kept.");
        const std::string log = logs.text(LogKind::Recovery);
        EXPECT_TRUE(log.ends_with("\r\nFiles Recover :0 / 6\r\n" +
                                  startingTimeText(static_cast<std::time_t>(run.startTime.load())) +
                                  "\r\n" + elapsedText(run.endTime.load() - run.startTime.load()) +
                                  "\r\nFiles Kept (already there) : 6\r\nNo File Saved\r\n"))
            << log;
    }
}

TEST_F(SavingTest, StopConfirmedDuringSecondOfThreeFinishesThatFileOnly) {
    test::SourceImage source(64);
    SavingRun run(dest.path());
    const FileInfo files[] = {found("JPEG", 1, 0, 9), found("JPEG", 2, 10, 17),
                              found("JPEG", 3, 30, 4)};
    for (const auto& f : files) add(f);
    plantOld(run, files[1]);
    // The question comes from the worker while it handles the second file; the
    // Stop is pressed from another thread in the meantime.
    bool confirmed = false;
    prompter.onAsk = [&](const std::string&) {
        std::thread([&] { confirmed = run.stop([] { return true; }); }).join();
    };
    prompter.answers = {ReplaceAnswer::Yes};
    runToEnd(run);

    EXPECT_TRUE(confirmed);
    EXPECT_EQ(readFile(run.filePathFor(files[1])), expectedSectors(10, 17));
    EXPECT_FALSE(fs::exists(run.filePathFor(files[2])));
    EXPECT_EQ(run.countText(), "2 / 3");
    EXPECT_EQ(run.outcome(), SavingOutcome::Aborted);
    EXPECT_EQ(run.finalMessage(), "File Saving Aborted.");
    const std::string log = logs.text(LogKind::Recovery);
    EXPECT_NE(log.find("\r\nFiles Recover :2 / 3\r\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("\r\nFile Saving Aborted\r\n")) << log;
}

TEST_F(SavingTest, StopAnsweredNoChangesNothing) {
    test::SourceImage source(16);
    SavingRun run(dest.path());
    EXPECT_FALSE(run.stop([] {
        ADD_FAILURE() << "asked although no worker runs";
        return true;
    }));
    const FileInfo files[] = {found("BMP", 1, 0, 2), found("BMP", 2, 2, 2), found("BMP", 3, 4, 2)};
    for (const auto& f : files) add(f);
    plantOld(run, files[1]);
    bool asked = false;
    prompter.onAsk = [&](const std::string&) {
        std::thread([&] {
            run.stop([&] {
                asked = true;
                return false;
            });
        }).join();
    };
    prompter.answers = {ReplaceAnswer::Yes};
    runToEnd(run);
    EXPECT_TRUE(asked);
    EXPECT_EQ(saveStopRequested.load(), 0);
    EXPECT_EQ(run.countText(), "3 / 3");
    EXPECT_EQ(run.outcome(), SavingOutcome::Succeeded);
}

TEST_F(SavingTest, RecoveryLogHeaderOncePerProcessAndEmptySelection) {
    test::SourceImage source(8);
    add(found("JPEG", 1, 0, 1, false));
    recoveryLogStarted.store(0);
    SavingRun first(dest.path());
    runToEnd(first);
    SavingRun second(dest.path());
    runToEnd(second);

    EXPECT_EQ(first.outcome(), SavingOutcome::NothingSelected);
    EXPECT_EQ(first.finalMessage(), "Please select the file for saving.");
    // A Stop while nothing is ticked aborted nothing: still asked to tick files.
    SavingRun stopped(dest.path());
    stopped.prepare();
    saveStopRequested.store(1);
    stopped.work();
    EXPECT_EQ(stopped.finalMessage(), "Please select the file for saving.");
    const std::string log = logs.text(LogKind::Recovery);
    EXPECT_EQ(countOf(log, "-----------------------Start--------------------------"), 1u);
    const std::regex header("^\r\n-----------------------Start--------------------------\r\n" +
                            session().windowTitle.load() + "\r\n" + session().versionText.load() +
                            "\r\n[0-2][0-9]:[0-5][0-9] - [A-Za-z]+, [A-Za-z]+ [0-3][0-9], [0-9]{4}"
                            "\r\n\r\nSaving Report :");
    EXPECT_TRUE(std::regex_search(log, header)) << log;
    EXPECT_EQ(countOf(log, "Files Recover :0 / 0\r\n"), 3u);
    EXPECT_EQ(countOf(log, "File Saved Successfully\r\n"), 2u);
}

TEST_F(SavingTest, FilesThatCannotBeWrittenAreReportedAsFailures) {
    KESTRUM_LINUX_ONLY("a file size limit (setrlimit in a forked child)");
#ifndef _WIN32
    test::SourceImage source(64);
    const FileInfo files[] = {found("JPEG", 1, 0, 8), found("JPEG", 2, 8, 17),
                              found("JPEG", 3, 30, 3)};
    for (const auto& f : files) add(f);
    SavingRun run(dest.path());
    // No file may grow past 6000 bytes: the 17-sector file is cut short.
    const std::string out = test::runWithFileSizeLimit(6000, [&] {
        run.prepare();
        run.work();
        std::ostringstream s;
        s << run.countText() << '\n'
          << run.failedCount.load() << '\n'
          << run.finalMessage() << '\n'
          << run.firstError.load();
        return s.str();
    });
    std::istringstream in(out);
    std::string count, failed, message, error;
    std::getline(in, count);
    std::getline(in, failed);
    std::getline(in, message);
    std::getline(in, error);
    ASSERT_EQ(count, "2 / 3") << out;
    EXPECT_EQ(failed, "1");
    EXPECT_EQ(message, "File Saving Completed with Errors. 1 file(s) could not be saved.");
    EXPECT_EQ(error, "Could not write " + run.filePathFor(files[1]) + ": " + std::strerror(EFBIG));
    EXPECT_EQ(readFile(run.filePathFor(files[2])), expectedSectors(30, 3));
    // The half-written file took no name, and its temporary one is gone.
    EXPECT_FALSE(fs::exists(run.filePathFor(files[1])));
    EXPECT_EQ(std::distance(fs::directory_iterator(run.folderPathFor(files[1])), {}), 2);

    const std::string log = logs.text(LogKind::Recovery);
    EXPECT_NE(log.find("\r\nFiles Recover :2 / 3\r\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("\r\nFiles Not Saved : 1\r\nFile Saving Completed with Errors\r\n"))
        << log;
    EXPECT_EQ(log.find("File Saved Successfully"), std::string::npos);
#endif
}

// Names the entries of folder, sorted, hidden ones included.
[[maybe_unused]] std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(SavingTest, AFullDiskLeavesOnlyWholeFilesAndTheSameRunLaterSavesTheRest) {
    KESTRUM_LINUX_ONLY("a small tmpfs mount");
#ifndef _WIN32
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    test::Mount volume("tmpfs", "-t tmpfs -o size=64k");
    if (!volume.ok()) GTEST_SKIP() << volume.why();
    test::SourceImage source(100);
    // 4, 6 and 1 pages of the 16 the volume holds, 8 of which other files fill.
    const FileInfo files[] = {found("MP4", 1, 0, 32), found("MP4", 2, 32, 48),
                              found("MP4", 3, 80, 8)};
    for (const auto& f : files) add(f);
    test::writeFile(volume.path() + "/other", std::string(8 << 12, 'x'));
    {
        SavingRun run(volume.path());
        runToEnd(run);
        EXPECT_EQ(run.savedCount.load(), 2);
        EXPECT_EQ(run.failedCount.load(), 1);
        EXPECT_EQ(run.firstError.load(),
                  "Could not write " + run.filePathFor(files[1]) + ": " + std::strerror(ENOSPC));
        EXPECT_EQ(entriesOf(run.folderPathFor(files[0])),
                  (std::vector<std::string>{"File1.MP4", "File3.MP4"}));
        EXPECT_EQ(readFile(run.filePathFor(files[2])), expectedSectors(80, 8));
        // The check before a run says what is missing, counting only what is not
        // there yet.
        EXPECT_EQ(checkSavingDestination(volume.path()),
                  "Insufficient free space on destination: the files to save need 24.0 KB, "
                  "12.0 KB is free (12.0 KB missing). Please free space or change destination "
                  "path.");
    }
    // Room made; the same run again, keeping both sides, saves the missing file and
    // finds the others already there (all three would not fit again).
    fs::remove(volume.path() + "/other");
    EXPECT_EQ(checkSavingDestination(volume.path()), "");
    SavingRun again(volume.path());
    prompter.answers = {ReplaceAnswer::KeepBothToAll};
    runToEnd(again);
    EXPECT_EQ(again.savedCount.load(), 1);
    EXPECT_EQ(again.keptCount.load(), 2);
    EXPECT_EQ(again.outcome(), SavingOutcome::Succeeded);
    EXPECT_EQ(readFile(again.filePathFor(files[1])), expectedSectors(32, 48));
    EXPECT_EQ(entriesOf(again.folderPathFor(files[0])),
              (std::vector<std::string>{"File1.MP4", "File2.MP4", "File3.MP4"}));
#endif
}

TEST_F(SavingTest, KeepingBothGivesTheNewcomerTheNextFreeName) {
    test::SourceImage source(16);
    SavingRun run(dest.path());
    FileInfo files[] = {found("JPEG", 1, 1, 2), found("JPEG", 2, 3, 2), found("JPEG", 3, 5, 2)};
    files[2].partial = true;
    for (const auto& f : files) {
        plantOld(run, f);
        add(f);
    }
    test::writeFile(dest.file("JPEG/File2 (2).JPEG"), std::string("another card"));
    prompter.answers = {ReplaceAnswer::KeepBoth, ReplaceAnswer::KeepBothToAll};
    runToEnd(run);
    EXPECT_EQ(prompter.asked, (std::vector<std::string>{"File1.JPEG", "File2.JPEG"}));
    for (const auto& f : files) EXPECT_EQ(contentOf(run.filePathFor(f)), "old content");
    EXPECT_EQ(contentOf(dest.file("JPEG/File2 (2).JPEG")), "another card");
    EXPECT_EQ(readFile(dest.file("JPEG/File1 (2).JPEG")), expectedSectors(1, 2));
    EXPECT_EQ(readFile(dest.file("JPEG/File2 (3).JPEG")), expectedSectors(3, 2));
    EXPECT_EQ(readFile(dest.file("JPEG/File3 (2).JPEG")), expectedSectors(5, 2));
    EXPECT_EQ(run.savedCount.load(), 3);
    EXPECT_EQ(run.keptCount.load(), 0);
    // The report names a partial file as it was saved.
    EXPECT_EQ(countOf(logs.text(LogKind::Recovery), "\r\nFile3 (2).JPEG (partial)\r\n"), 1u);
    EXPECT_EQ(keptBothName("README", 2), "README (2)");
    EXPECT_EQ(keptBothName(".hidden", 4), ".hidden (4)");
}

TEST_F(SavingTest, NothingIsWrittenThroughATypeFolderThatIsALink) {
    KESTRUM_LINUX_ONLY("symbolic links made by an ordinary user");
#ifndef _WIN32
    test::SourceImage source(16);
    test::TempDir elsewhere;
    fs::create_directory_symlink(elsewhere.path(), dest.file("JPEG"));
    test::writeFile(dest.file("GIF"), std::string("a file, not a folder"));
    add(found("JPEG", 1, 1, 2));
    add(found("GIF", 1, 3, 2));
    add(found("PNG", 1, 5, 2));
    SavingRun run(dest.path());
    runToEnd(run);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_EQ(run.savedCount.load(), 1);
    EXPECT_EQ(run.failedCount.load(), 2);
    EXPECT_EQ(run.firstError.load(),
              "Could not create " + dest.file("JPEG/File1.JPEG") + ": " + std::strerror(ENOTDIR));
    EXPECT_EQ(readFile(dest.file("PNG/File1.PNG")), expectedSectors(5, 2));
#endif
}

TEST_F(SavingTest, AReadOnlyDestinationIsRefusedBeforeStartingWithTheReason) {
    KESTRUM_LINUX_ONLY("a read-only tmpfs mount");
#ifndef _WIN32
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a read-only tmpfs needs root";
    test::Mount volume("tmpfs", "-t tmpfs -o ro,size=64k");
    if (!volume.ok()) GTEST_SKIP() << volume.why();
    test::SourceImage source(8);
    EXPECT_EQ(checkSavingDestination(volume.path()),
              "Files cannot be saved in " + volume.path() +
                  ": Read-only file system. Please choose another folder.");
#endif
}

TEST_F(SavingTest, DestinationMustExist) {
    EXPECT_EQ(checkSavingDestination(dest.file("missing")), "Select the valid path.");
    test::SourceImage source(8);
    EXPECT_EQ(checkSavingDestination(dest.path()), "");
}

}  // namespace
}  // namespace kestrum
