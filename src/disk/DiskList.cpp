#include "disk/DiskList.h"

#include "platform/Registry.h"

namespace kestrum {

using platform::RegistryRoot;

std::string diskValueName(int n) {
    return "Disk" + std::to_string(n);
}

std::string diskPropertyKey(const char* property) {
    return std::string(kDiskListKey) + "\\" + property;
}

DiskEntry entryForSize(uint64_t sizeBytes, std::string model, std::string mediaType) {
    return {std::move(model),
            std::move(mediaType),
            std::to_string(sizeBytes / 512 / (255 * 63)),
            "255",
            "63",
            std::to_string(sizeBytes)};
}

namespace {
std::array<std::string DiskEntry::*, 6> fields() {
    // In the order of kDiskPropertyNames.
    return {&DiskEntry::model, &DiskEntry::mediaType,       &DiskEntry::cylinder,
            &DiskEntry::head,  &DiskEntry::sectorsPerTrack, &DiskEntry::size};
}
}  // namespace

bool writeDiskProperties(platform::Registry& registry, int n, const DiskEntry& entry,
                         std::string* error) {
    const auto members = fields();
    for (size_t i = 0; i < kDiskPropertyNames.size(); ++i) {
        if (!registry.writeValue(RegistryRoot::ClassesRoot, diskPropertyKey(kDiskPropertyNames[i]),
                                 diskValueName(n), entry.*members[i])) {
            if (error) *error = registry.lastError();
            return false;
        }
    }
    return true;
}

DiskEntry readDiskEntry(const platform::Registry& registry, int n) {
    DiskEntry entry;
    const auto members = fields();
    for (size_t i = 0; i < kDiskPropertyNames.size(); ++i)
        entry.*members[i] = registry
                                .readValue(RegistryRoot::ClassesRoot,
                                           diskPropertyKey(kDiskPropertyNames[i]), diskValueName(n))
                                .value_or(std::string());
    return entry;
}

std::vector<int> listedDisks(const platform::Registry& registry) {
    std::vector<int> numbers;
    for (int n = 0; n < kMaxListedDisks; ++n)
        if (!registry.readValue(RegistryRoot::ClassesRoot, kDiskListKey, diskValueName(n))
                 .value_or(std::string())
                 .empty())
            numbers.push_back(n);
    return numbers;
}

}  // namespace kestrum
