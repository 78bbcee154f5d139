// Creation without following links, complete writes and checked closes.
#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
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

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path, int* error,
                                               Leftover leftover, mode_t mode) {
    // Deleting rather than truncating also removes a link without writing through
    // it, and needs no attribute change for a read-only file.
    ::unlink(path.c_str());
    const int replace = leftover == Leftover::Refuse ? O_EXCL : O_TRUNC;
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | replace | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        fail(error, errno);
        return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

std::unique_ptr<OutputFile> OutputFile::createAt(int folderFd, const std::string& name, int* error,
                                                 mode_t mode) {
    ::unlinkat(folderFd, name.c_str(), 0);
    const int fd = ::openat(folderFd, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        fail(error, errno);
        return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

std::unique_ptr<OutputFile> OutputFile::openLocked(const std::string& path, int* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        fail(error, errno);
        return nullptr;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            fail(error, errno);
            ::close(fd);
            return nullptr;
        }
    }
    return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

OutputFile::~OutputFile() {
    close();
}

bool OutputFile::writeAll(const void* data, size_t size, int* error) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(error, n < 0 ? errno : ENOSPC);
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool OutputFile::append(const void* data, size_t size, int* error) {
    if (::lseek(fd_, 0, SEEK_END) < 0) return fail(error, errno);
    return writeAll(data, size, error);
}

uint64_t OutputFile::size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool OutputFile::close(int* error) {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail(error, errno);
    return true;
}

}  // namespace kestrum::platform
