#include "platform/SourceFile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/UDisks.h"

namespace kestrum::platform {
namespace {

// A descriptor UDisks2 handed over, kept per device for the life of the process:
// polkit is asked once, and later opens of the same device (previews, saving,
// imaging) share it. Reads are positioned, so sharing needs no coordination.
std::mutex grantedMutex;
std::map<dev_t, int> granted;

// A read-only descriptor of the block device at path from UDisks2, or -1 with the
// user's explanation in refusal (empty when the service is not there to ask).
int grantedDescriptor(const std::string& path, dev_t device, bool ownHandle, std::string* refusal) {
    std::lock_guard lock(grantedMutex);
    const auto it = granted.find(device);
    // An unbuffered handle gets a description of its own: O_DIRECT set on a
    // duplicate would switch the shared one too.
    if (it != granted.end() && !ownHandle) return ::fcntl(it->second, F_DUPFD_CLOEXEC, 3);
    const UDisksOpen got = openThroughUDisks(path);
    if (got.outcome != UDisksOpen::Outcome::Opened) {
        *refusal = udisksRefusalText(got, path);
        return -1;
    }
    if (ownHandle) return got.fd;
    granted[device] = got.fd;
    return ::fcntl(got.fd, F_DUPFD_CLOEXEC, 3);
}

std::atomic<uint64_t> opens{0};

}  // namespace

uint64_t SourceFile::opensSoFar() {
    return opens.load(std::memory_order_relaxed);
}

std::shared_ptr<SourceFile> SourceFile::open(const std::string& path, std::string* error,
                                             Caching caching, int* errorNumber) {
    // O_RDONLY without O_CREAT: a source is never created, truncated or written.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_LARGEFILE);
    if (fd < 0) {
        const int err = errno;
        struct stat node {};
        // Root refused is refused for good (a container's device rules): the
        // disk service, itself root, would fare no better.
        if ((err == EACCES || err == EPERM) && ::geteuid() != 0 &&
            ::stat(path.c_str(), &node) == 0 && S_ISBLK(node.st_mode)) {
            std::string refusal;
            fd = grantedDescriptor(path, node.st_rdev, caching == Caching::Unbuffered, &refusal);
            if (fd < 0 && !refusal.empty()) {
                if (error) *error = refusal;
                if (errorNumber) *errorNumber = 0;
                return nullptr;
            }
        }
        if (fd < 0) {
            if (error) *error = std::strerror(err);
            if (errorNumber) *errorNumber = err;
            return nullptr;
        }
    }
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    const bool block = known && S_ISBLK(st.st_mode);
    if (known && S_ISDIR(st.st_mode)) {
        ::close(fd);
        if (error) *error = std::strerror(EISDIR);
        if (errorNumber) *errorNumber = EISDIR;
        return nullptr;
    }
    opens.fetch_add(1, std::memory_order_relaxed);
    std::shared_ptr<SourceFile> file(new SourceFile(fd, path, block));
    if (caching == Caching::Unbuffered) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
        const int flags = ::fcntl(fd, F_GETFL);
        file->direct_ = flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
    }
    return file;
}

SourceFile::SourceFile(int fd, std::string path, bool blockDevice)
    : fd_(fd), path_(std::move(path)), blockDevice_(blockDevice) {}

SourceFile::~SourceFile() {
    ::close(fd_);
}

ssize_t SourceFile::readAt(uint64_t offset, void* buffer, size_t size) const {
    if (direct_.load()) {
        const ssize_t got = readDirect(offset, buffer, size);
        if (got >= 0 || errno != EINVAL) return got;
        // O_DIRECT wants whole logical blocks: a medium with blocks larger than the
        // request refuses it, and is read without readahead from then on.
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT);
        direct_.store(false);
    }
    return readCached(offset, buffer, size);
}

ssize_t SourceFile::readDirect(uint64_t offset, void* buffer, size_t size) const {
    // O_DIRECT also wants an aligned buffer, which the caller's need not be.
    constexpr size_t kAlign = 4096;
    if (size == 0) return 0;
    void* bounce = std::aligned_alloc(kAlign, (size + kAlign - 1) / kAlign * kAlign);
    if (bounce == nullptr) return -1;
    const ssize_t got = readCached(offset, bounce, size);
    const int saved = errno;
    if (got > 0) std::memcpy(buffer, bounce, static_cast<size_t>(got));
    std::free(bounce);
    errno = saved;
    return got;
}

ssize_t SourceFile::readCached(uint64_t offset, void* buffer, size_t size) const {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;  // end of file
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

uint64_t SourceFile::size() const {
    if (blockDevice_) {
        uint64_t bytes = 0;
        return ::ioctl(fd_, BLKGETSIZE64, &bytes) == 0 ? bytes : 0;
    }
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace kestrum::platform
