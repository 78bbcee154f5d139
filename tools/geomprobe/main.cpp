// GeomProbe: finds the physical disks and writes each one's model, media type,
// geometry and size into the registry store, where the source page reads them.
// Started by the page (with its own path and one empty argument), which waits.
#include <cstdint>
#include <cstdio>
#include <string>

#include "disk/DiskList.h"
#include "platform/Devices.h"
#include "platform/Registry.h"

namespace {

using kestrum::DiskEntry;
using kestrum::platform::PhysicalDisk;
using kestrum::platform::Registry;
using kestrum::platform::RegistryRoot;

// The device's own heads and sectors per track where it reports them (loop
// devices do not; neither does a disk this user may not open). The reported
// cylinder count is only 16 bits wide, so the cylinders always come from the size.
DiskEntry describe(const PhysicalDisk& disk) {
    DiskEntry entry = kestrum::entryForSize(disk.sizeBytes, disk.model,
                                            kestrum::platform::mediaTypeText(disk.kind));
    if (const auto geometry = kestrum::platform::diskGeometry(disk.deviceNode)) {
        entry.head = std::to_string(geometry->heads);
        entry.sectorsPerTrack = std::to_string(geometry->sectorsPerTrack);
        entry.cylinder = std::to_string(disk.sizeBytes / 512 /
                                        (uint64_t{geometry->heads} * geometry->sectorsPerTrack));
    }
    return entry;
}

bool fail(const Registry& registry) {
    std::fprintf(stderr, "GeomProbe: cannot write the registry store %s: %s\n",
                 registry.filePath().c_str(), registry.lastError().c_str());
    return false;
}

bool probe() {
    Registry registry;
    const auto disks = kestrum::platform::physicalDisks();
    const int count = static_cast<int>(
        disks.size() < kestrum::kMaxListedDisks ? disks.size() : kestrum::kMaxListedDisks);
    for (int n = 0; n < count; ++n) {
        std::string error;
        if (!kestrum::writeDiskProperties(registry, n, describe(disks[n]), &error))
            return fail(registry);
        // The marker last: a disk is listed only once its facts are there.
        if (!registry.writeValue(RegistryRoot::ClassesRoot, kestrum::kDiskListKey,
                                 kestrum::diskValueName(n),
                                 "\\\\.\\PhysicalDrive" + std::to_string(n)))
            return fail(registry);
    }
    // Disks detached since an earlier run must not stay listed.
    for (int n = count; n < kestrum::kMaxListedDisks; ++n) {
        const std::string name = kestrum::diskValueName(n);
        if (registry.readValue(RegistryRoot::ClassesRoot, kestrum::kDiskListKey, name) &&
            !registry.deleteValue(RegistryRoot::ClassesRoot, kestrum::kDiskListKey, name))
            return fail(registry);
    }
    return true;
}

}  // namespace

int main() {
    return probe() ? 0 : 1;
}
