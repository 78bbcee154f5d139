// Positioned writes, growth without truncation and durable flushes.
#include "platform/PositionedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace kestrum::platform {
namespace {

bool fail(int* error, int code) {
    if (error) *error = code;
    return false;
}

}  // namespace

std::unique_ptr<PositionedFile> PositionedFile::open(const std::string& path, bool fresh,
                                                     int* error) {
    // Unlinking rather than truncating removes a link without writing through it.
    if (fresh) ::unlink(path.c_str());
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (fresh ? O_EXCL : 0), 0644);
    if (fd < 0) {
        fail(error, errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int code = errno != 0 ? errno : EINVAL;
        ::close(fd);
        fail(error, S_ISDIR(st.st_mode) ? EISDIR : code);
        return nullptr;
    }
    return std::unique_ptr<PositionedFile>(new PositionedFile(fd));
}

PositionedFile::~PositionedFile() {
    close();
}

bool PositionedFile::writeAt(uint64_t offset, const void* data, size_t size, int* error) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(error, n < 0 ? errno : ENOSPC);
        p += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool PositionedFile::extendTo(uint64_t bytes, int* error) {
    if (size() >= bytes) return true;
    return resize(bytes, error);
}

bool PositionedFile::resize(uint64_t bytes, int* error) {
    if (::ftruncate(fd_, static_cast<off_t>(bytes)) != 0) return fail(error, errno);
    return true;
}

bool PositionedFile::sync(int* error) {
    if (::fdatasync(fd_) != 0) return fail(error, errno);
    return true;
}

uint64_t PositionedFile::size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool PositionedFile::close(int* error) {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail(error, errno);
    return true;
}

uint64_t allocatedBytes(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
               ? static_cast<uint64_t>(st.st_blocks) * 512
               : 0;
}

}  // namespace kestrum::platform
