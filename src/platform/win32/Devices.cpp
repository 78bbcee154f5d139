// Logical drives through GetLogicalDriveStringsW and the volume calls, physical
// disks through "\\.\PhysicalDriveN" and their property and geometry queries.
// Session device paths are Windows' own names here: they need no mapping.
#include "platform/Devices.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;
namespace {

// Removable media and card readers are Removable; every other disk is Fixed.
DriveKind kindOfDriveType(UINT type) {
    return type == DRIVE_REMOVABLE ? DriveKind::Removable : DriveKind::Fixed;
}

// Vendor and product of a disk from its storage descriptor, and whether its
// medium is removable.
bool describeDisk(HANDLE h, std::string& model, bool& removable, std::string* serial = nullptr) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<char> buffer(4096);
    DWORD got = 0;
    if (!DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &got, nullptr) ||
        got < sizeof(STORAGE_DEVICE_DESCRIPTOR))
        return false;
    const auto* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
    auto text = [&](DWORD offset) {
        if (offset == 0 || offset >= got) return std::string();
        std::string s(buffer.data() + offset, strnlen(buffer.data() + offset, got - offset));
        const auto first = s.find_first_not_of(' ');
        if (first == std::string::npos) return std::string();
        return s.substr(first, s.find_last_not_of(' ') - first + 1);
    };
    const std::string vendor = text(d->VendorIdOffset), product = text(d->ProductIdOffset);
    model = vendor.empty() ? product : product.empty() ? vendor : vendor + " " + product;
    removable = d->RemovableMedia != 0 || d->BusType == BusTypeUsb || d->BusType == BusTypeSd ||
                d->BusType == BusTypeMmc;
    if (serial) *serial = text(d->SerialNumberOffset);
    return true;
}

uint64_t lengthOf(HANDLE h) {
    if (const uint64_t length = deviceLength(h)) return length;
    DWORD got = 0;
    DISK_GEOMETRY_EX geometry{};
    if (DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry,
                        &got, nullptr))
        return static_cast<uint64_t>(geometry.DiskSize.QuadPart);
    return 0;
}

std::string physicalDrivePath(unsigned number) {
    return "\\\\.\\PhysicalDrive" + std::to_string(number);
}

// The "\\.\X:" of the volume that holds path ("C:\Users\me" gives "\\.\C:").
std::string volumeDeviceOf(const std::string& path) {
    if (isDevicePath(path)) return path;
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(widen(path).c_str(), root, MAX_PATH)) return {};
    std::wstring r = root;
    while (!r.empty() && r.back() == L'\\') r.pop_back();
    if (r.size() == 2 && r[1] == L':') return "\\\\.\\" + narrow(r);
    return {};  // a share or a mounted folder: no drive letter to name
}

}  // namespace

std::optional<DiskGeometry> diskGeometry(const std::string& deviceNode) {
    const HANDLE h = openForQuery(deviceNode, 0, false);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    DISK_GEOMETRY_EX geometry{};
    DWORD got = 0;
    const bool told = DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry,
                                      sizeof geometry, &got, nullptr) &&
                      geometry.Geometry.TracksPerCylinder != 0 &&
                      geometry.Geometry.SectorsPerTrack != 0;
    CloseHandle(h);
    if (!told) return std::nullopt;
    return DiskGeometry{static_cast<unsigned>(geometry.Geometry.TracksPerCylinder),
                        static_cast<unsigned>(geometry.Geometry.SectorsPerTrack)};
}

char systemFamily() {
    return 'N';
}

const char* mediaTypeText(DriveKind kind) {
    return kind == DriveKind::Removable ? "Removable" : "Fixed";
}

std::string readSysfsLine(const std::string& file) {
    std::ifstream in(std::filesystem::path(widen(file)));
    std::string line;
    std::getline(in, line);
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<LogicalDrive> logicalDrives() {
    std::vector<LogicalDrive> drives;
    wchar_t names[512] = {};
    const DWORD n = GetLogicalDriveStringsW(511, names);
    for (const wchar_t* root = names; n != 0 && *root; root += wcslen(root) + 1) {
        const UINT type = GetDriveTypeW(root);
        // Disks and card readers only: not network shares, optical drives or RAM disks.
        if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) continue;
        LogicalDrive d;
        d.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
        d.mountPoint = narrow(root, wcslen(root));
        d.deviceNode = std::string("\\\\.\\") + d.letter + ":";
        wchar_t label[MAX_PATH + 1] = {}, fileSystem[MAX_PATH + 1] = {};
        if (GetVolumeInformationW(root, label, MAX_PATH + 1, nullptr, nullptr, nullptr, fileSystem,
                                  MAX_PATH + 1)) {
            d.label = narrow(label, wcslen(label));
            d.fileSystem = narrow(fileSystem, wcslen(fileSystem));
        }
        ULARGE_INTEGER available{}, total{}, free{};
        if (GetDiskFreeSpaceExW(root, &available, &total, &free)) {
            d.totalBytes = total.QuadPart;
            d.freeBytes = available.QuadPart;
        }
        d.kind = kindOfDriveType(type);
        drives.push_back(std::move(d));
    }
    return drives;
}

std::vector<PhysicalDisk> physicalDisks() {
    std::vector<PhysicalDisk> disks;
    // Disk numbers are dense from 0 in practice, but a removed disk leaves a gap:
    // look a little past the first missing number.
    unsigned missing = 0;
    for (unsigned number = 0; number < 64 && missing < 8; ++number) {
        const std::string path = physicalDrivePath(number);
        const HANDLE h = openForQuery(path, 0, false);
        if (h == INVALID_HANDLE_VALUE) {
            ++missing;
            continue;
        }
        PhysicalDisk d;
        d.name = "PhysicalDrive" + std::to_string(number);
        d.deviceNode = path;
        bool removable = false;
        if (!describeDisk(h, d.model, removable) || d.model.empty()) d.model = "Disk";
        d.kind = removable ? DriveKind::Removable : DriveKind::Fixed;
        d.sizeBytes = lengthOf(h);
        CloseHandle(h);
        if (d.sizeBytes == 0 && d.kind == DriveKind::Fixed) continue;
        d.number = static_cast<int>(number);
        disks.push_back(std::move(d));
    }
    return disks;
}

std::string resolveDevicePath(const std::string& sessionPath) {
    if (!isDevicePath(sessionPath)) return sessionPath;
    // Windows opens these names itself; one that names nothing is not there.
    const HANDLE h = openForQuery(sessionPath, 0, false);
    if (h == INVALID_HANDLE_VALUE) return {};
    CloseHandle(h);
    return sessionPath;
}

std::string blockDeviceOf(const std::string& path) {
    const std::string volume = volumeDeviceOf(path);
    if (volume.empty()) return {};
    const HANDLE h = openForQuery(volume, 0, false);
    if (h == INVALID_HANDLE_VALUE) return {};
    // The disk a volume lies on; a volume spanning disks is named by its first.
    std::vector<char> buffer(sizeof(VOLUME_DISK_EXTENTS) + 8 * sizeof(DISK_EXTENT));
    DWORD got = 0;
    const bool told =
        DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                        static_cast<DWORD>(buffer.size()), &got, nullptr);
    CloseHandle(h);
    const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer.data());
    if (told && extents->NumberOfDiskExtents > 0)
        return physicalDrivePath(extents->Extents[0].DiskNumber);
    // A physical disk is its own disk; a volume whose disk is not told (a
    // virtual drive) stands for itself, so the same volume still matches.
    return volume;
}

}  // namespace kestrum::platform
