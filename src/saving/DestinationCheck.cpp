#include "saving/DestinationCheck.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "app/Session.h"
#include "platform/Devices.h"

namespace kestrum {
namespace {
namespace fs = std::filesystem;

constexpr const char* kOnSourceMessage =
    "The destination is on the device being recovered. Writing there would overwrite the very "
    "data being recovered. Please choose a folder on another disk.";

bool isDeviceNumber(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != colon && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

std::string readFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::string wholeDiskNumber(const std::string& nodeOrNumber) {
    std::string number;
    if (isDeviceNumber(nodeOrNumber)) {
        number = nodeOrNumber;
    } else if (!nodeOrNumber.empty() && nodeOrNumber.find('/') == std::string::npos) {
        // A bare kernel name ("sda1").
        number = readFirstLine(fs::path("/sys/class/block") / nodeOrNumber / "dev");
    } else {
        struct stat st {};
        if (::stat(nodeOrNumber.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
        number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    }
    if (!isDeviceNumber(number)) return {};
    // A partition's sysfs folder sits inside its disk's folder.
    const fs::path entry = fs::path("/sys/dev/block") / number;
    std::error_code ec;
    if (fs::exists(entry / "partition", ec)) {
        const fs::path real = fs::canonical(entry, ec);
        if (!ec) {
            const std::string disk = readFirstLine(real.parent_path() / "dev");
            if (isDeviceNumber(disk)) return disk;
        }
    }
    return number;
}

std::string destinationOnSourceMessage(const std::string& destination,
                                       const std::string& sourceDevicePath, bool imageSource) {
    if (imageSource) return {};
    const std::string node = platform::resolveDevicePath(sourceDevicePath);
    if (node.empty()) return {};
    std::string sourceDisk = wholeDiskNumber(node);
    if (sourceDisk.empty()) return {};  // a plain file given as the source
    // A mapped device (an LVM volume as drive) lies on the disk below it.
    if (const std::string below = wholeDiskNumber(platform::blockDeviceOf(node)); !below.empty())
        sourceDisk = below;
    const std::string destinationDisk = wholeDiskNumber(platform::blockDeviceOf(destination));
    if (destinationDisk.empty() || destinationDisk != sourceDisk) return {};
    return kOnSourceMessage;
}

std::string destinationOnSourceMessage(const std::string& destination) {
    const Session& s = session();
    return destinationOnSourceMessage(destination, s.selectedDevicePath(),
                                      s.imageSource.load() != 0);
}

}  // namespace kestrum
