// Drives and disks against real loop devices and an ext4 filesystem, and the
// facts about this machine that the disk code relies on.
#include "platform/Devices.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "LoopDevice.h"
#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/SourceFile.h"

namespace kestrum::platform {
namespace {

constexpr uint64_t kDiskBytes = 8 << 20;

// A disk image whose every sector begins with its own number.
[[maybe_unused]] std::string makeNumberedImage(const test::TempDir& dir) {
    const std::string path = dir.file("disk.img");
    std::string bytes(kDiskBytes, '\0');
    for (uint64_t s = 0; s < kDiskBytes / 512; ++s) {
        const std::string tag = "SECTOR " + std::to_string(s);
        bytes.replace(s * 512, tag.size(), tag);
    }
    test::writeFile(path, bytes);
    return path;
}

[[maybe_unused]] const PhysicalDisk* findDisk(const std::vector<PhysicalDisk>& disks,
                                              const std::string& node) {
    const auto it = std::find_if(disks.begin(), disks.end(),
                                 [&](const PhysicalDisk& d) { return d.deviceNode == node; });
    return it == disks.end() ? nullptr : &*it;
}

TEST(DevicesTest, AttachedLoopDeviceIsADiskThatReadsAsRoot) {
    KESTRUM_LINUX_ONLY("loop devices");
#ifndef _WIN32
    if (const auto why = test::loopUnavailableReason(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    const std::string image = makeNumberedImage(dir);
    test::LoopDevice loop(image);
    if (!loop.ok()) GTEST_SKIP() << loop.why();

    const auto disks = physicalDisks();
    for (size_t n = 0; n < disks.size(); ++n) EXPECT_EQ(disks[n].number, static_cast<int>(n));
    const PhysicalDisk* disk = findDisk(disks, loop.node());
    ASSERT_NE(disk, nullptr) << loop.node() << " is not listed";
    EXPECT_EQ(disk->sizeBytes, kDiskBytes);
    EXPECT_EQ(disk->model, "Loop device (" + image + ")");
    EXPECT_EQ(disk->kind, DriveKind::Fixed);
    const std::string n = std::to_string(disk->number);
    EXPECT_EQ(resolveDevicePath("\\\\.\\PhysicalDrive" + n), loop.node());
    EXPECT_EQ(resolveDevicePath("\\\\.\\physicaldrive" + n), loop.node());
    EXPECT_EQ(blockDeviceOf(loop.node()), loop.node());

    std::string error;
    auto source = SourceFile::open(loop.node(), &error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_TRUE(source->isBlockDevice());
    EXPECT_EQ(source->size(), kDiskBytes);
    char sector[512] = {};
    ASSERT_EQ(source->readAt(1000 * 512, sector, sizeof sector), 512);
    EXPECT_STREQ(sector, "SECTOR 1000");

    // An open device is only detached when its last user lets go.
    source.reset();
    loop.detach();
    for (const auto& d : physicalDisks()) EXPECT_NE(d.model, "Loop device (" + image + ")");
#endif
}

TEST(DevicesTest, MountedExt4IsALogicalDriveWithLabelAndSizes) {
    KESTRUM_LINUX_ONLY("loop devices and ext4 mounts");
#ifndef _WIN32
    test::MountedExt4 volume("KTEST VOL", 16);
    if (!volume.ok()) GTEST_SKIP() << volume.why();

    const auto drives = logicalDrives();
    const auto it = std::find_if(drives.begin(), drives.end(), [&](const LogicalDrive& d) {
        return d.mountPoint == volume.mountPoint();
    });
    ASSERT_NE(it, drives.end()) << volume.mountPoint() << " is not a drive";
    EXPECT_EQ(it->label, "KTEST VOL");
    EXPECT_EQ(it->fileSystem, "ext4");
    EXPECT_EQ(it->deviceNode, volume.node());
    EXPECT_EQ(it->kind, DriveKind::Fixed);
    EXPECT_GT(it->letter, 'C');
    EXPECT_GT(it->totalBytes, 8u << 20);
    EXPECT_LE(it->totalBytes, 16u << 20);
    EXPECT_GT(it->freeBytes, 0u);
    EXPECT_LT(it->freeBytes, it->totalBytes);
    // Free as a user may write it: ext4 keeps 5 % for root, which is not free.
    EXPECT_EQ(it->freeBytes, freeBytesOf(volume.mountPoint()).value_or(0));

    // Letters run C:, D:, ... without gaps, one per drive.
    for (size_t i = 0; i < drives.size(); ++i) EXPECT_EQ(drives[i].letter, 'C' + i);
    const std::string letter(1, it->letter);
    EXPECT_EQ(resolveDevicePath("\\\\.\\" + letter + ":"), volume.node());
    EXPECT_EQ(resolveDevicePath("\\\\.\\" + std::string(1, std::tolower(it->letter)) + ":"),
              volume.node());

    const std::string inside = volume.mountPoint() + "/photo.jpg";
    test::writeFile(inside, std::string("x"));
    EXPECT_EQ(blockDeviceOf(inside), volume.node());
    EXPECT_EQ(blockDeviceOf(volume.mountPoint()), volume.node());
#endif
}

TEST(DevicesTest, BindMountIsNotASecondDrive) {
    KESTRUM_LINUX_ONLY("bind mounts");
#ifndef _WIN32
    test::MountedExt4 volume("KBIND", 8);
    if (!volume.ok()) GTEST_SKIP() << volume.why();
    test::Mount bind(volume.mountPoint(), "--bind");
    if (!bind.ok()) GTEST_SKIP() << bind.why();

    const auto drives = logicalDrives();
    const auto count = std::count_if(drives.begin(), drives.end(), [&](const LogicalDrive& d) {
        return d.deviceNode == volume.node();
    });
    EXPECT_EQ(count, 1);
    EXPECT_EQ(blockDeviceOf(bind.path()), volume.node());
#endif
}

TEST(DevicesTest, RootFilesystemIsDriveC) {
    KESTRUM_LINUX_ONLY("the root file system of a Linux machine");
#ifndef _WIN32
    const std::string rootDisk = blockDeviceOf("/");
    if (rootDisk.empty()) GTEST_SKIP() << "the root filesystem is not on a block device here";
    const auto drives = logicalDrives();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front().letter, 'C');
    EXPECT_EQ(drives.front().mountPoint, "/");
    EXPECT_FALSE(drives.front().fileSystem.empty());
    EXPECT_EQ(blockDeviceOf(drives.front().deviceNode), rootDisk);
    EXPECT_NE(findDisk(physicalDisks(), rootDisk), nullptr) << rootDisk << " is not a disk";
#endif
}

TEST(DevicesTest, PathsOffBlockDevicesHaveNoDisk) {
    KESTRUM_LINUX_ONLY("/proc and /dev of Linux");
#ifndef _WIN32
    std::ifstream mounts("/proc/self/mountinfo");
    std::string tmpfs;
    for (std::string line; std::getline(mounts, line) && tmpfs.empty();) {
        if (line.find(" - tmpfs ") == std::string::npos) continue;
        std::istringstream fields(line);
        std::string skip;
        fields >> skip >> skip >> skip >> skip >> tmpfs;
    }
    EXPECT_EQ(blockDeviceOf("/proc/self/status"), "");
    EXPECT_EQ(blockDeviceOf("/no/such/path"), "");
    if (tmpfs.empty()) GTEST_SKIP() << "no tmpfs is mounted here";
    EXPECT_EQ(blockDeviceOf(tmpfs), "") << tmpfs;
    for (const auto& d : logicalDrives()) EXPECT_NE(d.mountPoint, tmpfs);
#endif
}

TEST(DevicesTest, UnknownDevicesResolveToNothingAndPathsStayAsTheyAre) {
    KESTRUM_LINUX_ONLY("Linux device nodes");
#ifndef _WIN32
    EXPECT_EQ(resolveDevicePath("/srv/images/Image0.img"), "/srv/images/Image0.img");
    EXPECT_EQ(resolveDevicePath("/dev/sdb"), "/dev/sdb");
    const std::string past = std::to_string(physicalDisks().size());
    EXPECT_EQ(resolveDevicePath("\\\\.\\PhysicalDrive" + past), "");
    EXPECT_EQ(resolveDevicePath("\\\\.\\PhysicalDrive"), "");
    EXPECT_EQ(resolveDevicePath("\\\\.\\PhysicalDrive-1"), "");
    const auto drives = logicalDrives();
    if (drives.size() < 24) {
        EXPECT_EQ(resolveDevicePath("\\\\.\\Z:"), "");
    }
    EXPECT_EQ(resolveDevicePath("\\\\.\\1:"), "\\\\.\\1:");
#endif
}

// Facts about this machine that the geometry and reading code build on.
TEST(MachineFactsTest, LoopDevicesDoNotAnswerTheGeometryQuery) {
    KESTRUM_LINUX_ONLY("loop devices");
#ifndef _WIN32
    if (const auto why = test::loopUnavailableReason(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    const std::string image = makeNumberedImage(dir);
    test::LoopDevice loop(image);
    if (!loop.ok()) GTEST_SKIP() << loop.why();
    const int fd = ::open(loop.node().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    hd_geometry geometry{};
    const int rc = ::ioctl(fd, HDIO_GETGEO, &geometry);
    const int err = errno;
    ::close(fd);
    EXPECT_EQ(rc, -1) << "HDIO_GETGEO answered on a loop device: heads " << int(geometry.heads)
                      << ", sectors " << int(geometry.sectors);
    if (rc == -1) {
        EXPECT_EQ(err, ENOTTY) << std::strerror(err);
    }
#endif
}

TEST(MachineFactsTest, RootDiskCannotBeOpenedEvenByRoot) {
    KESTRUM_LINUX_ONLY("root and Linux device nodes");
#ifndef _WIN32
    if (::geteuid() != 0) GTEST_SKIP() << "only meaningful as root; other users lack the rights";
    const std::string rootDisk = blockDeviceOf("/");
    if (rootDisk.empty()) GTEST_SKIP() << "the root filesystem is not on a block device here";
    std::string error;
    const auto source = SourceFile::open(rootDisk, &error);
    if (source)
        GTEST_SKIP() << "this machine differs: root disk " << rootDisk << " opened (size "
                     << source->size() << " bytes), where it is normally refused";
    EXPECT_EQ(error, std::strerror(EPERM)) << rootDisk;
#endif
}

}  // namespace
}  // namespace kestrum::platform
