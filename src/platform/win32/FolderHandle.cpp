// Folder-relative creation, renaming and comparison that never follows a link:
// each folder is held open (not to be renamed or removed meanwhile), its
// sub-folders are opened without following reparse points.
#include "platform/FolderHandle.h"

#include <io.h>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/win32/FolderPath.h"
#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;
namespace {

// A descriptor holding the folder at path, or -1 with the errno in *error: a
// link there is refused with ELOOP when noFollow, anything but a folder with ENOTDIR.
int holdFolder(const std::string& path, bool noFollow, int* error) {
    const HANDLE h = CreateFileW(
        widen(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail(error, lastErrno());
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(h);
        fail(error, !known                                                   ? EIO
                    : (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ELOOP
                                                                             : ENOTDIR);
        return -1;
    }
    const int fd = descriptorOf(h, true);
    if (fd < 0) fail(error, EMFILE);
    return fd;
}

std::wstring inside(int fd, const std::string& name) {
    return widen(folderPathOf(fd) + "\\" + name);
}

bool readFull(HANDLE h, char* p, DWORD size, DWORD& got) {
    got = 0;
    while (got < size) {
        DWORD n = 0;
        if (!ReadFile(h, p + got, size - got, &n, nullptr)) return false;
        if (n == 0) break;
        got += n;
    }
    return true;
}

}  // namespace

namespace win32 {
std::string folderPathOf(int folderFd) {
    const HANDLE h = handleOf(folderFd);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(n + 1);
    }
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return narrow(path);
}
}  // namespace win32

std::unique_ptr<FolderHandle> FolderHandle::open(const std::string& path, int* error) {
    const int fd = holdFolder(path, false, error);
    if (fd < 0) return nullptr;
    return std::unique_ptr<FolderHandle>(new FolderHandle(fd));
}

FolderHandle::~FolderHandle() {
    ::_close(fd_);
}

std::unique_ptr<FolderHandle> FolderHandle::subfolder(const std::string& name, int* error) const {
    const std::string path = folderPathOf(fd_) + "\\" + name;
    if (!CreateDirectoryW(widen(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        fail(error, lastErrno());
        return nullptr;
    }
    const int fd = holdFolder(path, true, error);
    if (fd < 0) return nullptr;
    return std::unique_ptr<FolderHandle>(new FolderHandle(fd));
}

bool FolderHandle::has(const std::string& name) const {
    return GetFileAttributesW(inside(fd_, name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::unique_ptr<OutputFile> FolderHandle::create(const std::string& name, int* error) const {
    return OutputFile::createAt(fd_, name, error);
}

bool FolderHandle::rename(const std::string& from, const std::string& to, bool replace,
                          int* error) const {
    // Without MOVEFILE_REPLACE_EXISTING the move fails on an existing name by
    // itself: no window between a check and the move.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(inside(fd_, from).c_str(), inside(fd_, to).c_str(), flags)) return true;
    return fail(error, lastErrno());
}

bool FolderHandle::remove(const std::string& name) const {
    const std::wstring path = inside(fd_, name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool FolderHandle::sameContents(const std::string& a, const std::string& b) const {
    auto openPlain = [&](const std::string& name) {
        const HANDLE h = CreateFileW(
            inside(fd_, name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        if (h != INVALID_HANDLE_VALUE &&
            (!GetFileInformationByHandle(h, &info) ||
             (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))) {
            CloseHandle(h);
            return INVALID_HANDLE_VALUE;
        }
        return h;
    };
    const HANDLE fa = openPlain(a);
    const HANDLE fb = openPlain(b);
    bool same = false;
    LARGE_INTEGER sa{}, sb{};
    if (fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE && GetFileSizeEx(fa, &sa) &&
        GetFileSizeEx(fb, &sb) && sa.QuadPart == sb.QuadPart) {
        std::vector<char> x(1 << 16), y(1 << 16);
        for (;;) {
            DWORD n = 0, m = 0;
            if (!readFull(fa, x.data(), static_cast<DWORD>(x.size()), n) ||
                !readFull(fb, y.data(), static_cast<DWORD>(y.size()), m) || n != m ||
                std::memcmp(x.data(), y.data(), n) != 0)
                break;
            if (n == 0) {
                same = true;
                break;
            }
        }
    }
    if (fa != INVALID_HANDLE_VALUE) CloseHandle(fa);
    if (fb != INVALID_HANDLE_VALUE) CloseHandle(fb);
    return same;
}

int FolderHandle::writeProblem() const {
    // A trial file says what attributes cannot: a read-only medium, a share that
    // refuses this user, a full folder table.
    const std::wstring trial =
        inside(fd_, ".kestrum-write-test-" + std::to_string(GetCurrentProcessId()));
    const HANDLE h = CreateFileW(trial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastErrno();
    CloseHandle(h);
    return 0;
}

}  // namespace kestrum::platform
