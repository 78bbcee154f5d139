// Finds logical drives and physical disks through /proc/self/mountinfo, /sys/block,
// statvfs and libblkid, and maps Windows-style device paths to device nodes.
#include "platform/Devices.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <linux/hdreg.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace kestrum::platform {
namespace fs = std::filesystem;
namespace {

// The sysfs folder of a block device number, or empty when the number is not a
// block device (tmpfs, overlay and btrfs use anonymous numbers).
fs::path sysfsDir(dev_t dev) {
    std::error_code ec;
    const fs::path link =
        "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    fs::path dir = fs::canonical(link, ec);
    return ec ? fs::path() : dir;
}

// A partition's folder sits inside its disk's folder.
fs::path wholeDiskDir(const fs::path& dir) {
    return fs::exists(dir / "partition") ? dir.parent_path() : dir;
}

std::string deviceNodeOf(const fs::path& sysDir) {
    std::ifstream in(sysDir / "uevent");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("DEVNAME=", 0) == 0) return "/dev/" + line.substr(8);
    std::string name = sysDir.filename().string();
    std::replace(name.begin(), name.end(), '!', '/');
    return "/dev/" + name;
}

struct Mount {
    dev_t dev = 0;
    bool onBlockDevice = false;
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

// mountinfo writes blanks, tabs, newlines and backslashes as \ooo.
std::string unescapeOctal(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() &&
            std::isdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(s[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(s[i + 3]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<Mount> readMounts() {
    std::vector<Mount> mounts;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, devNumbers, root, mountPoint, field;
        fields >> id >> parent >> devNumbers >> root >> mountPoint;
        while (fields >> field && field != "-") {
        }
        Mount m;
        fields >> m.fsType >> m.source;
        m.mountPoint = unescapeOctal(mountPoint);
        m.source = unescapeOctal(m.source);
        unsigned maj = 0, min = 0;
        if (std::sscanf(devNumbers.c_str(), "%u:%u", &maj, &min) != 2) continue;
        m.dev = makedev(maj, min);
        m.onBlockDevice = !sysfsDir(m.dev).empty();
        // btrfs reports an anonymous number; its source still names the device.
        struct stat st {};
        if (!m.onBlockDevice && ::stat(m.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            m.dev = st.st_rdev;
            m.onBlockDevice = true;
        }
        mounts.push_back(std::move(m));
    }
    return mounts;
}

// Label and filesystem name as libblkid reads them from the superblock.
void probeVolume(const std::string& node, std::string& label, std::string& type) {
    blkid_probe probe = blkid_new_probe_from_filename(node.c_str());
    if (!probe) return;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe) == 0) {
        const char* value = nullptr;
        if (blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 && value) label = value;
        if (blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0 && value) type = value;
    }
    blkid_free_probe(probe);
}

// Users who may not open the device still see its label through udev's links.
std::string labelFromLinks(const std::string& node) {
    std::error_code ec;
    const fs::path target = fs::canonical(node, ec);
    if (ec) return {};
    for (const auto& entry : fs::directory_iterator("/dev/disk/by-label", ec)) {
        std::error_code ec2;
        if (fs::canonical(entry.path(), ec2) != target || ec2) continue;
        std::string name = entry.path().filename().string(), out;
        for (size_t i = 0; i < name.size(); ++i) {  // udev writes "\x20" for a blank
            if (name.compare(i, 2, "\\x") == 0 && i + 3 < name.size()) {
                out += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                out += name[i];
            }
        }
        return out;
    }
    return {};
}

// Orders sda < sdb < sdaa and loop2 < loop10, as a person would.
bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            const std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
            const auto ta = na.find_first_not_of('0'), tb = nb.find_first_not_of('0');
            const std::string va = ta == std::string::npos ? "" : na.substr(ta);
            const std::string vb = tb == std::string::npos ? "" : nb.substr(tb);
            if (va.size() != vb.size()) return va.size() < vb.size();
            if (va != vb) return va < vb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string modelOf(const std::string& name, const fs::path& dir) {
    if (name.rfind("loop", 0) == 0)
        return "Loop device (" + readSysfsLine(dir / "loop/backing_file") + ")";
    if (std::string model = readSysfsLine(dir / "device/model"); !model.empty()) return model;
    if (std::string dm = readSysfsLine(dir / "dm/name"); !dm.empty())
        return "Mapped device (" + dm + ")";
    if (fs::exists(dir / "md")) return "Software RAID (" + name + ")";
    std::error_code ec;
    const fs::path driver = fs::read_symlink(dir / "device/driver", ec);
    return ec ? "Block device" : "Block device (" + driver.filename().string() + ")";
}

bool isRemovable(const fs::path& diskDir) {
    return readSysfsLine(diskDir / "removable") == "1";
}

}  // namespace

std::optional<DiskGeometry> diskGeometry(const std::string& deviceNode) {
    const int fd = ::open(deviceNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    hd_geometry geometry{};
    const bool told =
        ::ioctl(fd, HDIO_GETGEO, &geometry) == 0 && geometry.heads != 0 && geometry.sectors != 0;
    ::close(fd);
    if (!told) return std::nullopt;
    return DiskGeometry{geometry.heads, geometry.sectors};
}

char systemFamily() {
    return 'N';
}

const char* mediaTypeText(DriveKind kind) {
    return kind == DriveKind::Removable ? "Removable" : "Fixed";
}

std::string readSysfsLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<LogicalDrive> logicalDrives() {
    std::vector<Mount> mounts = readMounts();
    // The root filesystem is C: wherever it stands in the list; a root mounted
    // over another one hides it, so the last "/" is the one in use.
    const auto root = std::find_if(mounts.rbegin(), mounts.rend(), [](const Mount& m) {
        return m.mountPoint == "/" && m.onBlockDevice;
    });
    if (root != mounts.rend()) std::rotate(mounts.begin(), std::prev(root.base()), root.base());

    std::vector<LogicalDrive> drives;
    std::set<dev_t> seen;  // bind mounts show one filesystem several times
    char letter = 'C';
    for (const Mount& m : mounts) {
        if (!m.onBlockDevice || !seen.insert(m.dev).second) continue;
        if (letter > 'Z') break;
        LogicalDrive d;
        d.letter = letter++;
        d.mountPoint = m.mountPoint;
        const fs::path dir = sysfsDir(m.dev);
        d.deviceNode = deviceNodeOf(dir);
        probeVolume(d.deviceNode, d.label, d.fileSystem);
        if (d.fileSystem.empty()) d.fileSystem = m.fsType;
        if (d.label.empty()) d.label = labelFromLinks(d.deviceNode);
        struct statvfs vfs {};
        if (::statvfs(m.mountPoint.c_str(), &vfs) == 0) {
            d.totalBytes = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
            // What the user can still write, as df's "Avail": blocks kept for root
            // are not free to a user saving files.
            d.freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
        }
        d.kind = isRemovable(wholeDiskDir(dir)) ? DriveKind::Removable : DriveKind::Fixed;
        drives.push_back(std::move(d));
    }
    return drives;
}

std::vector<PhysicalDisk> physicalDisks() {
    std::vector<PhysicalDisk> disks;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/block", ec)) {
        const std::string name = entry.path().filename().string();
        const fs::path dir = entry.path();
        if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) continue;
        if (name.rfind("loop", 0) == 0 && readSysfsLine(dir / "loop/backing_file").empty())
            continue;
        PhysicalDisk d;
        d.name = name;
        d.deviceNode = deviceNodeOf(dir);
        d.model = modelOf(name, dir);
        d.kind = isRemovable(dir) ? DriveKind::Removable : DriveKind::Fixed;
        d.sizeBytes = std::strtoull(readSysfsLine(dir / "size").c_str(), nullptr, 10) * 512;
        // Unconnected placeholders (nbd, empty device-mapper tables) hold nothing
        // to read; an empty card reader is still a drive.
        if (d.sizeBytes == 0 && d.kind == DriveKind::Fixed) continue;
        disks.push_back(std::move(d));
    }
    std::sort(disks.begin(), disks.end(), [](const PhysicalDisk& a, const PhysicalDisk& b) {
        return naturalLess(a.name, b.name);
    });
    for (size_t n = 0; n < disks.size(); ++n) disks[n].number = static_cast<int>(n);
    return disks;
}

std::string resolveDevicePath(const std::string& sessionPath) {
    static const std::string prefix = "\\\\.\\";
    if (sessionPath.rfind(prefix, 0) != 0) return sessionPath;
    const std::string rest = sessionPath.substr(prefix.size());
    static const std::string physical = "PhysicalDrive";
    if (::strncasecmp(rest.c_str(), physical.c_str(), physical.size()) == 0) {
        const std::string digits = rest.substr(physical.size());
        if (digits.empty() || digits.size() > 3 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; }))
            return {};
        const auto disks = physicalDisks();
        const size_t n = std::stoul(digits);
        return n < disks.size() ? disks[n].deviceNode : std::string();
    }
    if (rest.size() == 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
        for (const auto& d : logicalDrives())
            if (d.letter == letter) return d.deviceNode;
        return {};
    }
    return sessionPath;
}

std::string blockDeviceOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    fs::path dir = sysfsDir(S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev);
    if (dir.empty() && !S_ISBLK(st.st_mode)) {
        // Anonymous device numbers (btrfs): the mount holding the path names it.
        std::error_code ec;
        const std::string full = fs::weakly_canonical(path, ec).string();
        size_t best = 0;
        for (const Mount& m : readMounts()) {
            const std::string& mp = m.mountPoint;
            const bool holds = mp == "/" || full == mp || full.rfind(mp + "/", 0) == 0;
            if (!holds || mp.size() < best) continue;
            best = mp.size();
            dir = m.onBlockDevice ? sysfsDir(m.dev) : fs::path();
        }
    }
    if (dir.empty()) return {};
    dir = wholeDiskDir(dir);
    // A mapped device (dm-crypt, a one-disk LVM volume) lies on the disk below it.
    for (int depth = 0; depth < 8; ++depth) {
        std::error_code ec;
        std::vector<fs::path> slaves;
        for (const auto& s : fs::directory_iterator(dir / "slaves", ec)) slaves.push_back(s.path());
        if (slaves.size() != 1) break;
        const fs::path below = fs::canonical(slaves.front(), ec);
        if (ec) break;
        dir = wholeDiskDir(below);
    }
    return deviceNodeOf(dir);
}

}  // namespace kestrum::platform
