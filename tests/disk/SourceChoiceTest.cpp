// The source page's engine side where the page tests cannot reach: the registry
// rebuild around a stand-in probe (its runs counted, the store broken on cue),
// the edges of the 64-bit range boxes, and sources that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "TestSupport.h"
#include "app/Session.h"
#include "disk/DiskList.h"
#include "disk/SourceChoice.h"
#include "platform/Devices.h"
#include "platform/Registry.h"

namespace kestrum {
namespace {

using platform::Registry;
using platform::RegistryRoot;
constexpr auto kRoot = RegistryRoot::ClassesRoot;

// A stand-in for the probe program: a shell script that counts its runs.
[[maybe_unused]] std::string fakeProbe(const test::TempDir& dir, const std::string& body) {
    const std::string path = dir.file("GeomProbe");
    test::writeFile(path, "#!/bin/sh\necho run >> '" + dir.file("runs") + "'\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

[[maybe_unused]] int runs(const test::TempDir& dir) {
    const auto bytes = test::readFile(dir.file("runs"));
    return static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n'));
}

class SourceChoiceTest : public ::testing::Test {
protected:
    void TearDown() override { session().source.store(SourceSpec{}); }
    test::ScopedRegistry registry_;
    test::TempDir dir_;
};

// --- listing ---------------------------------------------------------------

TEST_F(SourceChoiceTest, ListingRebuildsTheStoreAndListsWhatTheProbeRegistered) {
    KESTRUM_LINUX_ONLY("a POSIX shell script as the probe");
#ifndef _WIN32
    Registry store;
    // Left from an earlier run: must not survive the rebuild.
    store.writeValue(kRoot, kDiskListKey, "Disk7", "old");
    store.writeValue(kRoot, diskPropertyKey("Model"), "Disk7", "old disk");
    store.writeValue(kRoot, kDisplayDeviceKey, "x", "y");
    const std::string probe = fakeProbe(
        dir_,
        "printf '[HKEY_CLASSES_ROOT\\\\Orv Windows]\\n\"Disk0\"=\"a\"\\n\"Disk2\"=\"b\"\\n' > "
        "\"$KESTRUM_REGISTRY\"");
    const SourceListing listing = listSources(probe);
    EXPECT_FALSE(listing.failure);
    EXPECT_EQ(listing.diskItems, (std::vector<std::string>{"Disk0", "Disk2"}));
    EXPECT_EQ(runs(dir_), 1);
    // The drives are the platform's, lettered as the tree shows them.
    std::vector<std::string> drives;
    for (const auto& d : platform::logicalDrives()) drives.push_back(driveItemText(d));
    EXPECT_EQ(listing.driveItems, drives);

    const SourceListing again = listSources(fakeProbe(dir_, ":"));
    EXPECT_TRUE(again.diskItems.empty());
    EXPECT_FALSE(store.readValue(kRoot, kDiskListKey, "Disk0"));
    EXPECT_FALSE(store.keyExists(kRoot, kDisplayDeviceKey));
    EXPECT_FALSE(store.readValue(kRoot, diskPropertyKey("Model"), "Disk7"));
    for (const char* property : kDiskPropertyNames)
        EXPECT_TRUE(store.keyExists(kRoot, diskPropertyKey(property))) << property;
#endif
}

TEST_F(SourceChoiceTest, ProbeThatListsNothingRunsAgainAndAMissingProbeListsNoDisks) {
    KESTRUM_LINUX_ONLY("a POSIX shell script as the probe");
#ifndef _WIN32
    const SourceListing empty = listSources(fakeProbe(dir_, ":"));
    EXPECT_TRUE(empty.diskItems.empty());
    EXPECT_FALSE(empty.failure);
    EXPECT_EQ(runs(dir_), 3);  // the first listing, the extra start, the second listing

    EXPECT_EQ(empty.probeProblem, "");  // it ran well and found nothing

    const SourceListing none = listSources(dir_.file("no such probe"));
    EXPECT_TRUE(none.diskItems.empty());
    EXPECT_FALSE(none.failure);
    EXPECT_FALSE(none.driveItems.empty());
    EXPECT_NE(none.probeProblem.find("no such probe is missing"), std::string::npos)
        << none.probeProblem;
#endif
}

TEST_F(SourceChoiceTest, ProbeThatFailsIsExplainedWithItsOwnReason) {
    KESTRUM_LINUX_ONLY("a POSIX shell script as the probe");
#ifndef _WIN32
    const std::string probe =
        fakeProbe(dir_, "echo 'GeomProbe: cannot list /sys/block: Permission denied' >&2; exit 2");
    const SourceListing listing = listSources(probe);
    EXPECT_FALSE(listing.failure);  // the drives and images still work
    EXPECT_TRUE(listing.diskItems.empty());
    EXPECT_EQ(listing.probeProblem, "The disks cannot be listed: the probe program " + probe +
                                        " failed (it ended with status 2: GeomProbe: cannot list "
                                        "/sys/block: Permission denied).");
#endif
}

TEST_F(SourceChoiceTest, StoreThatCannotBeWrittenEndsTheProcessWithItsReason) {
    KESTRUM_LINUX_ONLY("a POSIX shell script as the probe");
#ifndef _WIN32
    test::writeFile(dir_.file("file"), "x");
    ::setenv("KESTRUM_REGISTRY", dir_.file("file/registry").c_str(), 1);
    const SourceListing listing = listSources(fakeProbe(dir_, ":"));
    ASSERT_TRUE(listing.failure);
    EXPECT_EQ(listing.failure->exitCode, 0);
    EXPECT_NE(listing.failure->message.find("Not a directory"), std::string::npos)
        << listing.failure->message;
    EXPECT_EQ(runs(dir_), 0);
    EXPECT_TRUE(listing.driveItems.empty());
#endif
}

TEST_F(SourceChoiceTest, StoreBrokenByTheProbeEndsTheProcessWithItsReason) {
    KESTRUM_LINUX_ONLY("a POSIX shell script as the probe");
#ifndef _WIN32
    // The store becomes a folder: the list cannot be opened afterwards.
    const SourceListing listing = listSources(
        fakeProbe(dir_, "rm -f \"$KESTRUM_REGISTRY\"; mkdir \"$KESTRUM_REGISTRY\"; exit 3"));
    ASSERT_TRUE(listing.failure);
    EXPECT_EQ(listing.failure->exitCode, 0);
    EXPECT_NE(listing.failure->message.find("ended with status 3"), std::string::npos)
        << listing.failure->message;
    std::filesystem::remove(registry_.path());
#endif
}

// --- range boxes -----------------------------------------------------------------

TEST_F(SourceChoiceTest, RangeBoxesTakeSixtyFourBitNumbers) {
    EXPECT_EQ(parseSectorBox("4294967296"), 4294967296ull);
    EXPECT_EQ(parseSectorBox(" 18446744073709551615 "), UINT64_MAX);
    for (const char* bad : {"", " ", "-1", "+1", "12a", "1 2", "0x10", "18446744073709551616"})
        EXPECT_FALSE(parseSectorBox(bad)) << bad;

    uint64_t start = 7, end = 7;
    EXPECT_EQ(checkRangeBoxes("", "x", start, end), "Start sector is not valid.");
    EXPECT_EQ(checkRangeBoxes("0", "", start, end), "End sector is not valid.");
    EXPECT_EQ(checkRangeBoxes("0", "0", start, end),
              "End sector should be bigger than start sector.");
    EXPECT_EQ(checkRangeBoxes("9", "8", start, end),
              "End sector should be bigger than start sector.");
    EXPECT_EQ(start, 7u);  // a refused range changes nothing
    EXPECT_EQ(checkRangeBoxes("4294967295", "5860533168", start, end), "");
    EXPECT_EQ(start, 4294967295ull);
    EXPECT_EQ(end, 5860533168ull);
}

// --- sources that cannot be opened ---------------------------------------------

TEST_F(SourceChoiceTest, SourceThatCannotBeOpenedIsExplained) {
    session().chooseSource(SourceSpec::imageFolder(dir_.path(), true));
    const std::string missing = sourceOpenProblem("x");
    EXPECT_NE(missing.find(dir_.file("image0.img")), std::string::npos) << missing;
    EXPECT_NE(missing.find("No such file or directory"), std::string::npos) << missing;
    test::writeFile(dir_.file("Image0.img"), "x");
    EXPECT_EQ(sourceOpenProblem("x"), "");

    session().chooseSource(SourceSpec::disk(99));
    const std::string gone = sourceOpenProblem("Disk99");
    EXPECT_NE(gone.find("no device \\\\.\\PhysicalDrive99"), std::string::npos) << gone;
    session().deviceSlots.store(initialDeviceSlots());
}

}  // namespace
}  // namespace kestrum
