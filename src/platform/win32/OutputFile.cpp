// Creation without following links (reparse points), complete writes and
// checked closes, on Win32 handles held by C runtime descriptors.
#include "platform/OutputFile.h"

#include <io.h>
#include <cerrno>

#include "platform/win32/FolderPath.h"
#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;
namespace {

// Removes the entry at path itself (a read-only file or a link too).
void removeLeftover(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileW(path.c_str());
}

// A descriptor of a file opened for writing with disposition, or -1 with the
// errno in *error. A link found in place is refused (ELOOP), never followed.
int openForWriting(const std::wstring& path, DWORD disposition, DWORD share, int* error) {
    const HANDLE h =
        CreateFileW(path.c_str(), GENERIC_WRITE | GENERIC_READ, share, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail(error, lastErrno());
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(h);
        fail(error, (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EISDIR : ELOOP);
        return -1;
    }
    const int fd = descriptorOf(h, false);
    if (fd < 0) fail(error, EMFILE);
    return fd;
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path, int* error,
                                               Leftover leftover, mode_t mode) {
    const std::wstring wide = widen(path);
    removeLeftover(wide);
    int fd = openForWriting(wide, CREATE_NEW, FILE_SHARE_READ, error);
    if (fd < 0 && leftover == Leftover::Truncate && error && *error == EEXIST) {
        fd = openForWriting(wide, OPEN_EXISTING, FILE_SHARE_READ, error);
        FILE_END_OF_FILE_INFO end{};
        if (fd >= 0) SetFileInformationByHandle(handleOf(fd), FileEndOfFileInfo, &end, sizeof end);
    }
    if (fd < 0) return nullptr;
    // Without the owner's write bit the file is read-only, as on other systems.
    if ((mode & 0200) == 0) SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY);
    return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

std::unique_ptr<OutputFile> OutputFile::createAt(int folderFd, const std::string& name, int* error,
                                                 mode_t mode) {
    const std::string folder = folderPathOf(folderFd);
    if (folder.empty()) {
        fail(error, EBADF);
        return nullptr;
    }
    const std::wstring wide = widen(folder + "\\" + name);
    removeLeftover(wide);
    const int fd = openForWriting(wide, CREATE_NEW, FILE_SHARE_READ, error);
    if (fd < 0) return nullptr;
    if ((mode & 0200) == 0) SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY);
    return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

std::unique_ptr<OutputFile> OutputFile::openLocked(const std::string& path, int* error) {
    const int fd = openForWriting(widen(path), OPEN_ALWAYS,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, error);
    if (fd < 0) return nullptr;
    // Windows locks are mandatory: a byte far past any log's end is locked, so
    // that writers take turns while readers still see the whole file.
    OVERLAPPED at{};
    at.OffsetHigh = 0x7fffffff;
    if (!LockFileEx(handleOf(fd), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
        fail(error, lastErrno());
        ::_close(fd);
        return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

OutputFile::~OutputFile() {
    close();
}

bool OutputFile::writeAll(const void* data, size_t size, int* error) {
    const auto* p = static_cast<const char*>(data);
    const HANDLE h = handleOf(fd_);
    while (size > 0) {
        DWORD wrote = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(h, p, ask, &wrote, nullptr)) return fail(error, lastErrno());
        if (wrote == 0) return fail(error, ENOSPC);
        p += wrote;
        size -= wrote;
    }
    return true;
}

bool OutputFile::append(const void* data, size_t size, int* error) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(handleOf(fd_), zero, nullptr, FILE_END)) return fail(error, lastErrno());
    return writeAll(data, size, error);
}

uint64_t OutputFile::size() const {
    return fileSizeOf(fd_);
}

bool OutputFile::close(int* error) {
    const int failed = closeDescriptor(fd_);
    return failed == 0 || fail(error, failed);
}

}  // namespace kestrum::platform
