// The probe program run for real: every physical disk in the device layer's
// order, so that Disk<n> in the store is the disk "\\.\PhysicalDrive<n>" reads,
// with the six facts; disks gone since an earlier run are no longer listed.
#include <gtest/gtest.h>

#include <filesystem>

#include "LoopDevice.h"
#include "TestSupport.h"
#include "disk/DiskList.h"
#include "platform/Devices.h"
#include "platform/Registry.h"

namespace kestrum {
namespace {

using platform::Registry;
constexpr auto kRoot = platform::RegistryRoot::ClassesRoot;

int runProbe(std::string* output = nullptr) {
    return test::runCommand(std::string("'") + KESTRUM_BIN_DIR + "/GeomProbe' '' 2>&1", output);
}

// The disks as the probe saw them. Other programs on the machine may attach or
// detach loop devices meanwhile; then the probe runs again.
std::vector<platform::PhysicalDisk> probeSteadily(std::string& output) {
    for (int attempt = 0;; ++attempt) {
        const auto before = platform::physicalDisks();
        const int rc = runProbe(&output);
        const auto after = platform::physicalDisks();
        bool same = rc == 0 && before.size() == after.size();
        for (size_t i = 0; same && i < before.size(); ++i)
            same = before[i].deviceNode == after[i].deviceNode;
        if (same || attempt == 4) {
            EXPECT_EQ(rc, 0) << output;
            return after;
        }
    }
}

TEST(GeomProbe, WritesEveryDiskUnderTheNumberItsDevicePathReads) {
    const std::string why = test::loopUnavailableReason();
    if (!why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    const std::string file = dir.file("disk.img");
    test::writeFile(file, std::string());
    std::filesystem::resize_file(file, 50 * 1024 * 1024 + 4096);
    test::LoopDevice loop(file);
    ASSERT_TRUE(loop.ok()) << loop.why();

    test::ScopedRegistry scoped;
    Registry store;
    store.writeValue(kRoot, kDiskListKey, "Disk25", "left from an earlier run");
    std::string output;
    const auto disks = probeSteadily(output);
    ASSERT_LE(disks.size(), 26u);
    int loopNumber = -1;
    for (const auto& disk : disks) {
        SCOPED_TRACE(disk.deviceNode);
        const int n = disk.number;
        EXPECT_FALSE(store.readValue(kRoot, kDiskListKey, diskValueName(n)).value_or("").empty());
        const DiskEntry entry = readDiskEntry(store, n);
        EXPECT_EQ(entry.model, disk.model);
        EXPECT_EQ(entry.mediaType, platform::mediaTypeText(disk.kind));
        EXPECT_EQ(entry.size, std::to_string(disk.sizeBytes));
        const uint64_t heads = std::stoull(entry.head),
                       sectors = std::stoull(entry.sectorsPerTrack);
        EXPECT_EQ(std::stoull(entry.cylinder), disk.sizeBytes / 512 / (heads * sectors));
        if (disk.deviceNode == loop.node()) loopNumber = n;
    }
    EXPECT_FALSE(store.readValue(kRoot, kDiskListKey, "Disk25") && disks.size() < 26);
    ASSERT_GE(loopNumber, 0);
    EXPECT_EQ(platform::resolveDevicePath("\\\\.\\PhysicalDrive" + std::to_string(loopNumber)),
              loop.node());
    // A loop device reports no geometry: 255 heads of 63 sectors stand in.
    const DiskEntry entry = readDiskEntry(store, loopNumber);
    EXPECT_EQ(entry.model, "Loop device (" + file + ")");
    EXPECT_EQ(entry.head, "255");
    EXPECT_EQ(entry.sectorsPerTrack, "63");
    EXPECT_EQ(entry.cylinder, "6");  // 102,408 sectors / 16,065
    EXPECT_EQ(entry.size, "52432896");

    // Detached: the next run no longer lists it (nor anything after it).
    loop.detach();
    const auto now = probeSteadily(output);
    EXPECT_FALSE(store.readValue(kRoot, kDiskListKey, diskValueName(static_cast<int>(now.size()))));
    for (const auto& disk : now)
        EXPECT_NE(readDiskEntry(store, disk.number).model, "Loop device (" + file + ")");
}

TEST(GeomProbe, StoreThatCannotBeWrittenFailsWithItsReason) {
    KESTRUM_LINUX_ONLY("the registry file of Linux builds");
#ifndef _WIN32
    test::TempDir dir;
    test::writeFile(dir.file("file"), "x");
    test::ScopedRegistry scoped;
    ::setenv("KESTRUM_REGISTRY", dir.file("file/registry").c_str(), 1);
    std::string output;
    EXPECT_EQ(runProbe(&output), 1);
    EXPECT_NE(output.find("Not a directory"), std::string::npos) << output;
#endif
}

}  // namespace
}  // namespace kestrum
