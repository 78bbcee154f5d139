// Sources opened read-only through CreateFileW: image files, volumes ("\\.\K:")
// and whole disks ("\\.\PhysicalDrive1"), shared so that Windows keeps using the
// medium while it is read. Never opened for writing.
#include "platform/SourceFile.h"

#include <io.h>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/win32/ReadFaults.h"
#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;
namespace {

// What the header's members cannot hold: per descriptor, the sector size that
// unbuffered reads align to and the injected faults.
struct Extra {
    uint64_t sectorBytes = 4096;
    FaultRanges faults;
};
std::mutex extraMutex;
std::map<int, Extra> extras;

Extra extraOf(int fd) {
    std::lock_guard lock(extraMutex);
    const auto it = extras.find(fd);
    return it == extras.end() ? Extra{} : it->second;
}

std::atomic<uint64_t> opens{0};

// The unit FILE_FLAG_NO_BUFFERING reads must be aligned to: the disk's logical
// sector for a device, the volume's sector for a file.
uint64_t sectorBytesOf(HANDLE h, const std::string& path, bool device) {
    if (device) {
        DISK_GEOMETRY_EX geometry{};
        DWORD got = 0;
        if (DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry,
                            sizeof geometry, &got, nullptr) &&
            geometry.Geometry.BytesPerSector != 0)
            return geometry.Geometry.BytesPerSector;
        return 512;
    }
    wchar_t root[MAX_PATH] = {};
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (GetVolumePathNameW(widen(path).c_str(), root, MAX_PATH) &&
        GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) &&
        bytesPerSector != 0)
        return bytesPerSector;
    return 4096;
}

}  // namespace

uint64_t SourceFile::opensSoFar() {
    return opens.load(std::memory_order_relaxed);
}

std::shared_ptr<SourceFile> SourceFile::open(const std::string& path, std::string* error,
                                             Caching caching, int* errorNumber) {
    auto refuse = [&](int err) -> std::shared_ptr<SourceFile> {
        if (error) *error = std::strerror(err);
        if (errorNumber) *errorNumber = err;
        return nullptr;
    };
    const bool device = isDevicePath(path);
    const std::wstring wide = widen(path);
    if (!device) {
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return refuse(EISDIR);
    }
    // GENERIC_READ alone: a source is never created, truncated or written. Others
    // may go on reading and writing the medium (Windows keeps volumes mounted).
    const DWORD flags = caching == Caching::Unbuffered
                            ? FILE_FLAG_NO_BUFFERING | FILE_FLAG_RANDOM_ACCESS
                            : FILE_FLAG_SEQUENTIAL_SCAN;
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return refuse(lastErrno());
    Extra extra;
    extra.sectorBytes = sectorBytesOf(h, path, device);
    extra.faults = readFaultsFor(path);
    const int fd = descriptorOf(h, true);
    if (fd < 0) return refuse(EMFILE);
    {
        std::lock_guard lock(extraMutex);
        extras[fd] = std::move(extra);
    }
    opens.fetch_add(1, std::memory_order_relaxed);
    std::shared_ptr<SourceFile> file(new SourceFile(fd, path, device));
    file->direct_ = caching == Caching::Unbuffered;
    return file;
}

SourceFile::SourceFile(int fd, std::string path, bool blockDevice)
    : fd_(fd), path_(std::move(path)), blockDevice_(blockDevice) {}

SourceFile::~SourceFile() {
    {
        std::lock_guard lock(extraMutex);
        extras.erase(fd_);
    }
    ::_close(fd_);
}

ssize_t SourceFile::readAt(uint64_t offset, void* buffer, size_t size) const {
    const Extra extra = extraOf(fd_);
    if (touchesFault(extra.faults, offset, size)) {
        errno = EIO;
        return -1;
    }
    if (direct_.load()) {
        const ssize_t got = readDirect(offset, buffer, size);
        if (got >= 0 || errno != EINVAL) return got;
        // The medium refused the unbuffered request: read it through the cache
        // from now on, on a handle of the same file without the flag.
        const HANDLE again =
            ReOpenFile(handleOf(fd_), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       FILE_FLAG_RANDOM_ACCESS);
        if (again != INVALID_HANDLE_VALUE) {
            const int fd = descriptorOf(again, true);
            if (fd >= 0) {
                ::_dup2(fd, fd_);
                ::_close(fd);
            }
        }
        direct_.store(false);
    }
    return readCached(offset, buffer, size);
}

ssize_t SourceFile::readDirect(uint64_t offset, void* buffer, size_t size) const {
    // Unbuffered reads take whole sectors into a sector-aligned buffer; the
    // caller's request need be neither.
    if (size == 0) return 0;
    const uint64_t unit = extraOf(fd_).sectorBytes;
    const uint64_t first = offset / unit * unit;
    const uint64_t end = (offset + size + unit - 1) / unit * unit;
    void* bounce = VirtualAlloc(nullptr, static_cast<SIZE_T>(end - first), MEM_COMMIT | MEM_RESERVE,
                                PAGE_READWRITE);
    if (bounce == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    const ssize_t got = readCached(first, bounce, static_cast<size_t>(end - first));
    const int saved = errno;
    ssize_t delivered = got;
    if (got >= 0) {
        const uint64_t skip = offset - first;
        delivered =
            got > static_cast<ssize_t>(skip)
                ? std::min<ssize_t>(got - static_cast<ssize_t>(skip), static_cast<ssize_t>(size))
                : 0;
        if (delivered > 0)
            std::memcpy(buffer, static_cast<char*>(bounce) + skip, static_cast<size_t>(delivered));
    }
    VirtualFree(bounce, 0, MEM_RELEASE);
    errno = saved;
    return delivered;
}

ssize_t SourceFile::readCached(uint64_t offset, void* buffer, size_t size) const {
    const HANDLE h = handleOf(fd_);
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        OVERLAPPED at{};
        const uint64_t pos = offset + done;
        at.Offset = static_cast<DWORD>(pos);
        at.OffsetHigh = static_cast<DWORD>(pos >> 32);
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(h, out + done, ask, &got, &at)) {
            const DWORD e = GetLastError();
            if (e == ERROR_HANDLE_EOF) break;
            errno = errnoOf(e);
            return -1;
        }
        if (got == 0) break;  // end of file
        done += got;
    }
    return static_cast<ssize_t>(done);
}

uint64_t SourceFile::size() const {
    if (blockDevice_)
        if (const uint64_t length = deviceLength(handleOf(fd_))) return length;
    return fileSizeOf(fd_);
}

}  // namespace kestrum::platform
