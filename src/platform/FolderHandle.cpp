// Folder-relative creation, renaming and comparison that never follows a link.
#include "platform/FolderHandle.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kestrum::platform {
namespace {

bool fail(int* error, int code) {
    if (error) *error = code;
    return false;
}

// Reads up to size bytes; fewer only at the end of the file.
ssize_t readFull(int fd, char* p, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

std::unique_ptr<FolderHandle> FolderHandle::open(const std::string& path, int* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        fail(error, errno);
        return nullptr;
    }
    return std::unique_ptr<FolderHandle>(new FolderHandle(fd));
}

FolderHandle::~FolderHandle() {
    ::close(fd_);
}

std::unique_ptr<FolderHandle> FolderHandle::subfolder(const std::string& name, int* error) const {
    if (::mkdirat(fd_, name.c_str(), 0755) != 0 && errno != EEXIST) {
        fail(error, errno);
        return nullptr;
    }
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        fail(error, errno);
        return nullptr;
    }
    return std::unique_ptr<FolderHandle>(new FolderHandle(fd));
}

bool FolderHandle::has(const std::string& name) const {
    struct stat st {};
    return ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::unique_ptr<OutputFile> FolderHandle::create(const std::string& name, int* error) const {
    return OutputFile::createAt(fd_, name, error);
}

bool FolderHandle::rename(const std::string& from, const std::string& to, bool replace,
                          int* error) const {
    if (replace) {
        if (::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0) return true;
        return fail(error, errno);
    }
    if (::renameat2(fd_, from.c_str(), fd_, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return fail(error, errno);
    // A file system without the no-replace move: a hard link fails on an existing
    // name by itself; without hard links (FAT) look first.
    if (::linkat(fd_, from.c_str(), fd_, to.c_str(), 0) == 0) {
        ::unlinkat(fd_, from.c_str(), 0);
        return true;
    }
    if (errno == EEXIST) return fail(error, EEXIST);
    if (has(to)) return fail(error, EEXIST);
    if (::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0) return true;
    return fail(error, errno);
}

bool FolderHandle::remove(const std::string& name) const {
    return ::unlinkat(fd_, name.c_str(), 0) == 0 || errno == ENOENT;
}

bool FolderHandle::sameContents(const std::string& a, const std::string& b) const {
    const int fa = ::openat(fd_, a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const int fb = ::openat(fd_, b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool same = false;
    struct stat sa {
    }, sb{};
    if (fa >= 0 && fb >= 0 && ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 &&
        S_ISREG(sa.st_mode) && S_ISREG(sb.st_mode) && sa.st_size == sb.st_size) {
        std::vector<char> x(1 << 16), y(1 << 16);
        for (;;) {
            const ssize_t n = readFull(fa, x.data(), x.size());
            const ssize_t m = readFull(fb, y.data(), y.size());
            if (n < 0 || n != m || std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0)
                break;
            if (n == 0) {
                same = true;
                break;
            }
        }
    }
    if (fa >= 0) ::close(fa);
    if (fb >= 0) ::close(fb);
    return same;
}

int FolderHandle::writeProblem() const {
    // A trial file says what access() cannot: a read-only mount, a full inode
    // table, a root-squashing share.
    const int fd = ::openat(fd_, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    const std::string trial = ".kestrum-write-test-" + std::to_string(::getpid());
    const int named =
        ::openat(fd_, trial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (named < 0) return errno;
    ::close(named);
    ::unlinkat(fd_, trial.c_str(), 0);
    return 0;
}

}  // namespace kestrum::platform
