// Real read errors: a FUSE filesystem of our own fails reads that touch chosen
// sectors with EIO, and the reader meets them through the file as a device, as
// an image, and through a loop device over that file.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "DiskTestSupport.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "disk/SectorSource.h"
#include "disk/SectorView.h"
#include "filetypes/Catalogue.h"
#include "scan/ExtentRules.h"
#include "scan/ScanDriver.h"

namespace kestrum {
namespace {

using test::FaultFs;
using test::holdsSector;
using test::holdsZeros;

constexpr uint64_t kMediumSectors = 200;

class ReaderFaults : public test::ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        test::writePatternFile(dir.file("backing.img"), 0, kMediumSectors);
    }
    std::unique_ptr<FaultFs> mount(const std::string& bad, const std::string& name = "disk.img") {
        return std::make_unique<FaultFs>(dir.file("backing.img"), name, bad);
    }
    // Every sector of buffer holds its data, except the listed ones, which are zeros.
    static void expectSectors(const std::vector<uint8_t>& buffer, uint64_t start,
                              const std::set<uint64_t>& zeroed) {
        for (uint64_t i = 0; i < buffer.size() / kSectorSize; ++i) {
            if (zeroed.count(start + i))
                EXPECT_TRUE(holdsZeros(buffer, i));
            else
                EXPECT_TRUE(holdsSector(buffer, i, start + i));
        }
    }
};

#define MOUNT_OR_SKIP(fs, bad) \
    auto fs = mount(bad);      \
    if (!fs->mounted()) GTEST_SKIP() << fs->reason();

TEST_F(ReaderFaults, ARequestReachesTheMediumWhole) {
    KESTRUM_LINUX_ONLY("faultfs's request log");
#ifndef _WIN32
    MOUNT_OR_SKIP(fs, "");
    const auto requests = [&](uint32_t count) {
        auto buffer = test::staleBuffer(count);
        EXPECT_EQ(readSectors(3, count, buffer.data(), fs->file()), 1);
        expectSectors(buffer, 3, {});
        std::vector<std::pair<uint64_t, uint64_t>> seen;
        for (const auto& r : fs->takeRequests()) seen.emplace_back(r.offset, r.size);
        return seen;
    };
    using Seen = std::vector<std::pair<uint64_t, uint64_t>>;
    fs->takeRequests();
    EXPECT_EQ(requests(40), (Seen{{1536, 20480}}));
    EXPECT_EQ(requests(41), (Seen{{1536, 20992}}));
    EXPECT_EQ(requests(80), (Seen{{1536, 40960}}));
#endif
}

TEST_F(ReaderFaults, AFailedRequestIsSplitDownToItsBadSectors) {
    KESTRUM_LINUX_ONLY("faultfs's request log");
#ifndef _WIN32
    MOUNT_OR_SKIP(fs, "45,47");
    prompts.answers = {BadSectorAnswer::Retry};
    auto buffer = test::staleBuffer(80);
    fs->takeRequests();
    const uint64_t zeroedBefore = unreadableSectors();
    EXPECT_EQ(readSectors(0, 80, buffer.data(), fs->file()), 0) << "two sectors are zeros";
    EXPECT_EQ(prompts.asked, 1) << "one question for the request";
    expectSectors(buffer, 0, {45, 47});
    EXPECT_EQ(unreadableSectors() - zeroedBefore, 2u) << "only the two bad sectors are lost";
    EXPECT_EQ(unreadableRunsText(unreadableRunsSince(0)), "45, 47");

    // Halved, not read sector by sector throughout; the retry reads the two alone.
    const auto requests = fs->takeRequests();
    EXPECT_LT(requests.size(), 24u);
    ASSERT_GE(requests.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const auto& r = requests[requests.size() - 2 + i];
        EXPECT_EQ(r.offset, (i == 0 ? 45 : 47) * kSectorSize);
        EXPECT_EQ(r.size, kSectorSize);
        EXPECT_TRUE(r.failed);
    }
    uint64_t failedSingles = 0;
    for (const auto& r : requests) failedSingles += r.failed && r.size == kSectorSize;
    EXPECT_EQ(failedSingles, 4u) << "each bad sector found once, retried once";
#endif
}

TEST_F(ReaderFaults, ResultSaysWhetherEverySectorCame) {
    MOUNT_OR_SKIP(fs, "5");
    prompts.answers = {BadSectorAnswer::Retry};
    auto buffer = test::staleBuffer(80);
    EXPECT_EQ(readSectors(0, 80, buffer.data(), fs->file()), 0);
    expectSectors(buffer, 0, {5});
    buffer = test::staleBuffer(80);
    EXPECT_EQ(readSectors(10, 80, buffer.data(), fs->file()), 1);
    expectSectors(buffer, 10, {});
}

TEST_F(ReaderFaults, SkipLeavesZerosOnlyForTheBadSectors) {
    MOUNT_OR_SKIP(fs, "45,85");
    prompts.answers = {BadSectorAnswer::Skip};
    auto buffer = test::staleBuffer(120);
    fs->takeRequests();
    const uint64_t zeroedBefore = unreadableSectors();
    EXPECT_EQ(readSectors(0, 120, buffer.data(), fs->file()), 0);
    EXPECT_EQ(prompts.asked, 1);
    expectSectors(buffer, 0, {45, 85});
    EXPECT_EQ(unreadableSectors() - zeroedBefore, 2u);
    if (!fs->logsRequests()) return;
    int singles = 0;
    for (const auto& r : fs->takeRequests()) singles += r.failed && r.size == kSectorSize;
    EXPECT_EQ(singles, 2) << "skip reads no bad sector again";
}

TEST_F(ReaderFaults, RetryAllIsAskedOnceForTheRestOfTheProcess) {
    MOUNT_OR_SKIP(fs, "45,85");
    prompts.answers = {BadSectorAnswer::RetryAll};
    auto buffer = test::staleBuffer(120);
    readSectors(0, 120, buffer.data(), fs->file());
    expectSectors(buffer, 0, {45, 85});

    buffer = test::staleBuffer(10);
    EXPECT_EQ(readSectors(40, 10, buffer.data(), fs->file()), 0);
    expectSectors(buffer, 40, {45});
    EXPECT_EQ(prompts.asked, 1);
    EXPECT_EQ(session().badSectorAnswer.load(), BadSectorAnswer::RetryAll);
}

TEST_F(ReaderFaults, SkipAllIsAskedOnceForTheRestOfTheProcess) {
    MOUNT_OR_SKIP(fs, "45,85");
    prompts.answers = {BadSectorAnswer::SkipAll};
    auto buffer = test::staleBuffer(120);
    readSectors(0, 120, buffer.data(), fs->file());
    expectSectors(buffer, 0, {45, 85});

    buffer = test::staleBuffer(10);
    EXPECT_EQ(readSectors(40, 10, buffer.data(), fs->file()), 0);
    expectSectors(buffer, 40, {45});
    EXPECT_EQ(prompts.asked, 1);
}

TEST_F(ReaderFaults, ABadLastSectorIsAskedAboutToo) {
    MOUNT_OR_SKIP(fs, "40");
    prompts.answers = {BadSectorAnswer::Skip};
    auto buffer = test::staleBuffer(41);
    EXPECT_EQ(readSectors(0, 41, buffer.data(), fs->file()), 0);
    EXPECT_EQ(prompts.asked, 1);
    expectSectors(buffer, 0, {40});
}

TEST_F(ReaderFaults, SmallRequestFollowsTheAnswer) {
    MOUNT_OR_SKIP(fs, "3");
    prompts.answers = {BadSectorAnswer::Retry, BadSectorAnswer::Skip};
    auto buffer = test::staleBuffer(10);
    EXPECT_EQ(readSectors(0, 10, buffer.data(), fs->file()), 0);
    expectSectors(buffer, 0, {3});

    buffer = test::staleBuffer(10);
    EXPECT_EQ(readSectors(0, 10, buffer.data(), fs->file()), 0);
    expectSectors(buffer, 0, {3});
    EXPECT_EQ(prompts.asked, 2);
}

TEST_F(ReaderFaults, ASkippedSectorIsNotAskedAboutAgainInTheRun) {
    MOUNT_OR_SKIP(fs, "45,85");
    prompts.answers = {BadSectorAnswer::Skip, BadSectorAnswer::Skip, BadSectorAnswer::Skip};
    auto buffer = test::staleBuffer(60);
    EXPECT_EQ(readSectors(0, 60, buffer.data(), fs->file()), 0);
    EXPECT_EQ(prompts.asked, 1);
    // Read again (a carver measuring the file, a preview): zeros, no question.
    buffer = test::staleBuffer(20);
    EXPECT_EQ(readSectors(40, 20, buffer.data(), fs->file()), 0);
    expectSectors(buffer, 40, {45});
    EXPECT_EQ(prompts.asked, 1);
    // A request that meets a sector not yet answered for asks, once.
    buffer = test::staleBuffer(60);
    EXPECT_EQ(readSectors(40, 60, buffer.data(), fs->file()), 0);
    expectSectors(buffer, 40, {45, 85});
    EXPECT_EQ(prompts.asked, 2);
    // A new run asks afresh.
    closeDeviceHandle();
    buffer = test::staleBuffer(20);
    EXPECT_EQ(readSectors(40, 20, buffer.data(), fs->file()), 0);
    EXPECT_EQ(prompts.asked, 3);
}

TEST_F(ReaderFaults, ReadAheadAsksOncePerBadSector) {
    // An MP3 file's extent is followed 350 sectors on, read ahead in blocks through
    // the session's source, as the scan reads it.
    MOUNT_OR_SKIP(fs, "45");
    auto slots = initialDeviceSlots();
    slots[0] = fs->file();
    session().deviceSlots.store(slots);
    session().selectedSlot.store(0);
    const auto stamped = test::readFile(dir.file("backing.img"));
    for (const BadSectorAnswer answer : {BadSectorAnswer::Retry, BadSectorAnswer::Skip}) {
        closeDeviceHandle();  // a sector met again is not counted again: start afresh
        prompts.asked = 0;
        prompts.answers = {answer};
        std::vector<SelectedType> rows{{"MP3", "2000"}};
        TypeList types = buildSelection(rows);
        uint32_t count = 0;
        int32_t found = 0;
        fs->takeRequests();
        const uint64_t zeroedBefore = unreadableSectors();
        EXPECT_EQ(FollowMarkerRun(types, 0, SectorView(stamped.data(), kSectorSize, 0), 0, 0, count,
                                  found, sessionSectorSource()),
                  kFileEnds);
        EXPECT_EQ(count, 10u);
        EXPECT_EQ(prompts.asked, 1);
        EXPECT_EQ(unreadableSectors() - zeroedBefore, 1u);
        if (!fs->logsRequests()) continue;
        // The failed block, the sector by itself, and its retry when asked for.
        int touching = 0;
        for (const auto& r : fs->takeRequests())
            touching += r.offset <= 45 * kSectorSize && 46 * kSectorSize <= r.offset + r.size;
        EXPECT_EQ(touching, answer == BadSectorAnswer::Retry ? 3 : 2);
    }
}

TEST_F(ReaderFaults, FailingImageReadLosesOnlyItsBadSector) {
    auto fs = mount("5", "Image0.img");
    if (!fs->mounted()) GTEST_SKIP() << fs->reason();
    useImage(fs->mountPoint(), false);
    for (const BadSectorAnswer answer : {BadSectorAnswer::Retry, BadSectorAnswer::Skip}) {
        closeDeviceHandle();
        prompts.asked = 0;
        prompts.answers = {answer};
        auto buffer = test::staleBuffer(100);
        const uint64_t zeroedBefore = unreadableSectors();
        EXPECT_EQ(readSectors(0, 100, buffer.data(), "\\\\.\\PhysicalDrive0"), 0);
        expectSectors(buffer, 0, {5});
        EXPECT_EQ(prompts.asked, 1);
        EXPECT_EQ(unreadableSectors() - zeroedBefore, 1u);
    }
    auto buffer = test::staleBuffer(10);
    EXPECT_EQ(readSectors(10, 10, buffer.data(), "\\\\.\\PhysicalDrive0"), 1);
    expectSectors(buffer, 10, {});
}

TEST_F(ReaderFaults, AScanEndReportListsOnlyTheRunsThatScanReadAsZeros) {
    auto fs = mount("5,90-91", "Image0.img");
    if (!fs->mounted()) GTEST_SKIP() << fs->reason();
    useImage(fs->mountPoint(), false);
    closeDeviceHandle();
    prompts.answers = {BadSectorAnswer::SkipAll};
    Session& s = session();
    std::vector<SelectedType> jpeg{{"JPEG", "2000"}};
    s.fileTypes = buildSelection(jpeg);
    s.rangeStart = 0;
    s.rangeEnd = kMediumSectors;
    const auto scan = [&] {
        ResultsPage page;
        EXPECT_TRUE(startScan(page, sessionSectorSource(), {}));
        s.scanThread.waitUntilIdle();
        s.resultsPage = nullptr;
        const auto lines = scanEndReport(page, 0, 0, 0, false);
        std::string text;
        for (const auto& line : lines) text += line + "\n";
        return text;
    };
    const std::string first = scan();
    EXPECT_NE(first.find("Unreadable Sectors (zeros) : 5, 90-91"), std::string::npos) << first;

    // The next scan of a sound range says nothing of the earlier one's runs.
    s.rangeStart = 100;
    const std::string second = scan();
    EXPECT_EQ(second.find("Unreadable"), std::string::npos) << second;
    EXPECT_NE(second.find("Analysing Completed"), std::string::npos) << second;
    s.fileTypes.clear();
    s.foundFiles.clear();
    closeDeviceHandle();
}

TEST_F(ReaderFaults, LoopDeviceOverTheFailingFileFailsPerSector) {
    MOUNT_OR_SKIP(fs, "45,47");
    test::LoopDevice loop(fs->file());
    if (!loop.attached()) GTEST_SKIP() << loop.reason();
    prompts.answers = {BadSectorAnswer::Retry};
    auto buffer = test::staleBuffer(80);
    EXPECT_EQ(readSectors(0, 80, buffer.data(), loop.node()), 0);
    EXPECT_EQ(prompts.asked, 1);
    expectSectors(buffer, 0, {45, 47});
}

}  // namespace
}  // namespace kestrum
