// Logical drives and physical disks, described as the source page shows them, and
// the mapping of the session's Windows-style device paths to device nodes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrum::platform {

enum class DriveKind { Fixed, Removable };

// A mounted filesystem on a block device, lettered C: (the root filesystem), then
// D:, E:, ... in mount order.
struct LogicalDrive {
    char letter = 'C';
    std::string mountPoint;
    std::string deviceNode;  // /dev/...
    std::string label;       // libblkid LABEL, may be empty
    std::string fileSystem;  // libblkid TYPE ("ext4", "vfat", ...)
    uint64_t totalBytes = 0;
    uint64_t freeBytes = 0;  // what a user may still write (reserved blocks not counted)
    DriveKind kind = DriveKind::Fixed;
};

// A whole disk, numbered in the probe's order: block devices of /sys/block sorted
// by name, loop devices only with a backing file, no ram or zram.
struct PhysicalDisk {
    int number = 0;
    std::string name;        // sda, loop0, nvme0n1
    std::string deviceNode;  // /dev/sda
    std::string model;
    DriveKind kind = DriveKind::Fixed;
    uint64_t sizeBytes = 0;
};

// The first line of a small text file (a sysfs attribute), without surrounding
// blanks; empty when it cannot be read.
std::string readSysfsLine(const std::string& file);

std::vector<LogicalDrive> logicalDrives();
std::vector<PhysicalDisk> physicalDisks();

// The heads and sectors per track a disk reports of itself.
struct DiskGeometry {
    unsigned heads = 0;
    unsigned sectorsPerTrack = 0;
};
// Asked of the device node; none when it cannot be opened or does not tell (loop
// devices do not).
std::optional<DiskGeometry> diskGeometry(const std::string& deviceNode);

// The system family: always the NT family ('N') here.
char systemFamily();

// The media type words of the disk list: "Fixed" or "Removable".
const char* mediaTypeText(DriveKind kind);

// "\\.\PhysicalDrive<n>" and "\\.\<X>:" to their device nodes; any other text is
// returned as it is (the command-line tool passes plain paths). Empty when the
// disk or drive does not exist.
std::string resolveDevicePath(const std::string& sessionPath);

// The device node of the whole disk (not the partition) that holds path, or of
// the whole disk of path when it is a block device itself ("/dev/sda"); a mapped
// device on a single disk gives that disk. Empty when path is not on a block
// device (tmpfs, overlay) or does not exist.
std::string blockDeviceOf(const std::string& path);

}  // namespace kestrum::platform
