// The disk list in the registry store: the probe program writes it, the source
// page rebuilds and reads it, and registers chosen image folders in it as
// pseudo-disks. Under HKEY_CLASSES_ROOT "Orv Windows" a value "Disk<n>" marks a
// present disk; each property key below it holds one value "Disk<n>" per disk.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {

namespace platform {
class Registry;
}

inline constexpr const char* kDiskListKey = "Orv Windows";
inline constexpr int kMaxListedDisks = 26;  // Disk0 to Disk25
inline constexpr std::array<const char*, 6> kDiskPropertyNames{
    "Model", "MediaType", "Cylinder", "Head", "SectorsPerTrack", "Size"};
// Deleted with the list and never written again.
inline constexpr const char* kDisplayDeviceKey = "Orv Windows\\DisplayDevice";

struct DiskEntry {
    std::string model;
    std::string mediaType;
    std::string cylinder;
    std::string head;
    std::string sectorsPerTrack;
    std::string size;  // bytes, decimal
};

// "Disk<n>".
std::string diskValueName(int n);
// "Orv Windows\<property>".
std::string diskPropertyKey(const char* property);

// The conventional geometry of 255 heads of 63 sectors, with the cylinders the
// size fills; also how an image is described.
DiskEntry entryForSize(uint64_t sizeBytes, std::string model, std::string mediaType);

// Writes the six property values of disk n (not its marker). False, with the
// store's reason in error, when a write fails.
bool writeDiskProperties(platform::Registry& registry, int n, const DiskEntry& entry,
                         std::string* error = nullptr);
// The six values of disk n; a missing value reads as empty.
DiskEntry readDiskEntry(const platform::Registry& registry, int n);
// The numbers n (0 to 25) whose marker "Disk<n>" is not empty, in order.
std::vector<int> listedDisks(const platform::Registry& registry);

}  // namespace kestrum
