// A destination on the disk being read is refused, for saving and for imaging.
// Real loop devices with an ext4 filesystem stand in for the source disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "IoTestSupport.h"
#include "imaging/ImagingRun.h"
#include "platform/Devices.h"
#include "saving/DestinationCheck.h"
#include "saving/SavingRun.h"

namespace kestrum {
namespace {
namespace fs = std::filesystem;

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// A 16 MiB loop disk holding ext4, either directly or in one partition, mounted
// in a folder of its own. skipReason() says why it could not be built.
class LoopDisk {
public:
    explicit LoopDisk(bool partitioned) {
#ifdef _WIN32
        reason_ = "Linux-only: needs loop devices and mounts";
        return;
#endif
        if (!test::isRoot()) {
            reason_ = "needs root to attach a loop device and mount it";
            return;
        }
        const std::string image = dir_.file("disk.img");
        fs::create_directory(mount_);
        std::ofstream(image).close();
        fs::resize_file(image, 16 << 20);
        if (partitioned &&
            test::runCommand("echo ',,L' | sfdisk -q '" + image + "' >/dev/null 2>&1") != 0) {
            reason_ = "sfdisk could not partition the image";
            return;
        }
        std::string out;
        if (test::runCommand(std::string("losetup -f --show ") + (partitioned ? "-P " : "") + "'" +
                                 image + "' 2>/dev/null",
                             &out) != 0) {
            reason_ = "no free loop device";
            return;
        }
        disk_ = trimmed(out);
        filesystemNode_ = partitioned ? disk_ + "p1" : disk_;
        // Without udev the kernel may not have scanned the table at attach time.
        if (!fs::exists(filesystemNode_))
            test::runCommand("partx -a '" + disk_ + "' >/dev/null 2>&1");
        if (!fs::exists(filesystemNode_)) {
            reason_ = "the loop partition node did not appear";
            return;
        }
        if (test::runCommand("mkfs.ext4 -q '" + filesystemNode_ + "' >/dev/null 2>&1") != 0 ||
            test::runCommand("mount '" + filesystemNode_ + "' '" + mount_ + "'") != 0) {
            reason_ = "cannot make or mount ext4 on the loop device";
            return;
        }
        mounted_ = true;
    }
    ~LoopDisk() {
        if (mounted_) test::runCommand("umount '" + mount_ + "'");
        if (!disk_.empty()) test::runCommand("losetup -d '" + disk_ + "'");
    }
    const std::string& skipReason() const {
        return reason_;
    }
    const std::string& disk() const {
        return disk_;
    }
    const std::string& filesystemNode() const {
        return filesystemNode_;
    }
    const std::string& mountPoint() const {
        return mount_;
    }

private:
    test::TempDir dir_;
    std::string mount_ = dir_.file("mnt");
    std::string reason_;
    std::string disk_;
    std::string filesystemNode_;
    bool mounted_ = false;
};

// Makes the session read the device at path, as the command-line tool does.
class DeviceSource {
public:
    explicit DeviceSource(const std::string& path) {
        session().chooseSource(SourceSpec::device(path));
        session().rangeStart.store(0);
        session().rangeEnd.store(8);
    }
    ~DeviceSource() {
        session().deviceSlots.store(initialDeviceSlots());
        session().rangeEnd.store(0);
    }
};

TEST(DestinationOnSource, FolderOnTheSourceDiskIsRefused) {
    LoopDisk loop(false);
    if (!loop.skipReason().empty()) GTEST_SKIP() << loop.skipReason();
    const std::string inside = loop.mountPoint() + "/found";
    fs::create_directory(inside);
    test::TempDir elsewhere;
    DeviceSource source(loop.disk());

    const std::string refusal = destinationOnSourceMessage(inside);
    EXPECT_NE(refusal.find("overwrite"), std::string::npos) << refusal;
    EXPECT_EQ(checkSavingDestination(inside), refusal);
    EXPECT_EQ(ImagingRun().checkStart(inside), refusal);

    EXPECT_EQ(checkSavingDestination(elsewhere.path()), "");
    EXPECT_EQ(ImagingRun().checkStart(elsewhere.path()), "");

    // The same disk chosen the way the source page names it.
    const auto disks = platform::physicalDisks();
    const auto listed = std::find_if(disks.begin(), disks.end(),
                                     [&](const auto& d) { return d.deviceNode == loop.disk(); });
    ASSERT_NE(listed, disks.end()) << loop.disk() << " is not among the physical disks";
    DeviceSource physical("\\\\.\\PhysicalDrive" + std::to_string(listed->number));
    EXPECT_EQ(checkSavingDestination(inside), refusal);
}

TEST(DestinationOnSource, PartitionAndItsDiskAreTheSameSource) {
    LoopDisk loop(true);
    if (!loop.skipReason().empty()) GTEST_SKIP() << loop.skipReason();
    EXPECT_EQ(platform::blockDeviceOf(loop.filesystemNode()), loop.disk());
    EXPECT_EQ(platform::blockDeviceOf(loop.mountPoint()), loop.disk());

    {
        DeviceSource source(loop.disk());  // the whole disk, a physical-drive source
        EXPECT_NE(destinationOnSourceMessage(loop.mountPoint()), "");
    }
    {
        DeviceSource source(loop.filesystemNode());  // the partition, a drive-letter source
        EXPECT_NE(destinationOnSourceMessage(loop.mountPoint()), "");
    }
}

TEST(DestinationOnSource, ImageSourceIsNotADevice) {
    LoopDisk loop(false);
    if (!loop.skipReason().empty()) GTEST_SKIP() << loop.skipReason();
    DeviceSource device(loop.disk());
    // Saving beside an image file that lies on that very disk is fine.
    EXPECT_EQ(destinationOnSourceMessage(loop.mountPoint(), loop.disk(), true), "");
    EXPECT_NE(destinationOnSourceMessage(loop.mountPoint(), loop.disk(), false), "");
}

}  // namespace
}  // namespace kestrum
