// `kestrum-recover devices` lists a mounted ext4 loop filesystem as a drive and
// its loop device as a disk, with the facts and size texts of the source page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "../platform/LoopDevice.h"
#include "Cli.h"
#include "platform/Devices.h"

namespace kestrum::cli {
namespace {

std::string lineWith(const std::string& text, const std::string& needle) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find(needle) != std::string::npos) return line;
    return {};
}

TEST(DevicesCommandTest, ListsTheExt4DriveAndItsLoopDisk) {
    test::MountedExt4 volume("KCLI", 16);
    if (!volume.ok()) GTEST_SKIP() << volume.why();
    const auto drives = platform::logicalDrives();
    const auto drive = std::find_if(drives.begin(), drives.end(), [&](const auto& d) {
        return d.mountPoint == volume.mountPoint();
    });
    ASSERT_NE(drive, drives.end());

    testing::internal::CaptureStdout();
    const int rc = devicesCommand({});
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, kExitDone);

    const std::string driveLine = lineWith(out, volume.mountPoint());
    ASSERT_FALSE(driveLine.empty()) << out;
    EXPECT_EQ(driveLine.find(std::string(1, drive->letter) + ":"), 2u) << driveLine;
    for (const char* fact : {"KCLI", "ext4", "Fixed"})
        EXPECT_NE(driveLine.find(fact), std::string::npos) << fact << " in " << driveLine;
    // A 16 MiB filesystem is between 1 and 1024 MiB: its capacity is told in MB.
    char capacity[32];
    std::snprintf(capacity, sizeof capacity, " %.1f MB ", drive->totalBytes / 1048576.0);
    EXPECT_NE(driveLine.find(capacity), std::string::npos) << capacity << " in " << driveLine;

    const std::string diskLine = lineWith(out, "Loop device (" + volume.image() + ")");
    ASSERT_FALSE(diskLine.empty()) << out;
    EXPECT_NE(diskLine.find(volume.node() + " "), std::string::npos) << diskLine;
    EXPECT_NE(diskLine.find("Fixed"), std::string::npos) << diskLine;
    EXPECT_NE(diskLine.find(" 16 MB"), std::string::npos) << diskLine;
    EXPECT_EQ(diskLine.find("  Disk"), 0u) << diskLine;
    EXPECT_LT(out.find("Logical drives"), out.find("Physical disks"));
}

TEST(DevicesCommandTest, RefusesArguments) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(devicesCommand({"/dev/sda"}), kExitUsage);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("/dev/sda"), std::string::npos);
}

}  // namespace
}  // namespace kestrum::cli
