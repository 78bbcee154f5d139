// TEMPORARY: stand-ins for the sector reader and the device mapping, which other
// branches are writing. Deleted before this branch is handed over.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/Session.h"
#include "disk/SectorReader.h"
#include "platform/Devices.h"
#include "platform/Folders.h"

namespace kestrum {

int32_t readSectors(uint64_t start, uint32_t count, void* buffer, const std::string&) {
    std::memset(buffer, 0, size_t{count} * kSectorSize);
    const auto path = platform::findFileNoCase(session().imageFolder.load(), kSingleImageName);
    if (!path) return 0;
    const int fd = ::open(path->c_str(), O_RDONLY);
    if (fd < 0) return 0;
    const ssize_t n = ::pread(fd, buffer, size_t{count} * kSectorSize, off_t(start * kSectorSize));
    ::close(fd);
    return n >= 0;
}

void closeDeviceHandle() {}

}  // namespace kestrum

namespace kestrum::platform {

std::string resolveDevicePath(const std::string& sessionPath) {
    return sessionPath;
}

std::string blockDeviceOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    const std::string number =
        std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path entry = fs::canonical("/sys/dev/block/" + number, ec);
    if (ec) return {};
    if (fs::exists(entry / "partition")) entry = entry.parent_path();
    return "/dev/" + entry.filename().string();
}

}  // namespace kestrum::platform
