#include "platform/DeviceIdentity.h"

#include "platform/Devices.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

namespace kestrum::platform {
namespace fs = std::filesystem;
namespace {

// The first of the files under dir that holds a value.
std::string anyOf(const fs::path& dir, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (std::string value = readSysfsLine(dir / name); !value.empty()) return value;
    return {};
}

}  // namespace

std::optional<DeviceIdentity> identityOf(const std::string& node) {
    struct stat st {};
    if (node.empty() || ::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
    std::error_code ec;
    const fs::path dir = fs::canonical("/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                                           std::to_string(minor(st.st_rdev)),
                                       ec);
    if (ec) return std::nullopt;
    DeviceIdentity id;
    id.node = node;
    id.sizeBytes = std::strtoull(readSysfsLine(dir / "size").c_str(), nullptr, 10) * 512;
    // A loop device without a file, or an empty card reader: nothing is there.
    if (id.sizeBytes == 0) return std::nullopt;
    const bool isPartition = fs::exists(dir / "partition");
    id.partition = isPartition ? std::atoi(readSysfsLine(dir / "partition").c_str()) : 0;
    const fs::path disk = isPartition ? dir.parent_path() : dir;
    id.serial = anyOf(disk, {"serial", "device/serial"});
    id.wwn = anyOf(disk, {"wwid", "device/wwid"});
    id.model = anyOf(disk, {"device/model", "dm/name"});
    id.backingFile = readSysfsLine(disk / "loop/backing_file");
    return id;
}

}  // namespace kestrum::platform
