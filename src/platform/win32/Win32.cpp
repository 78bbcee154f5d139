#include "platform/win32/Win32.h"

#include <fcntl.h>
#include <io.h>
#include <cerrno>

namespace kestrum::platform::win32 {

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text, size_t size) {
    if (size == 0) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
    return out;
}

std::string narrow(const std::wstring& text) {
    return narrow(text.data(), text.size());
}

int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_READY:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NO_MEDIA_IN_DRIVE:
            return ENXIO;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_NAME:
            return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        default:
            return EIO;  // CRC, sector not found, device errors
    }
}

uint64_t fileSizeOf(int descriptor) {
    LARGE_INTEGER bytes{};
    return GetFileSizeEx(handleOf(descriptor), &bytes) ? static_cast<uint64_t>(bytes.QuadPart) : 0;
}

int closeDescriptor(int& descriptor) {
    if (descriptor < 0) return 0;
    const int fd = descriptor;
    descriptor = -1;
    return ::_close(fd) != 0 ? errno : 0;
}

uint64_t deviceLength(HANDLE handle) {
    GET_LENGTH_INFORMATION length{};
    DWORD got = 0;
    return DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                           &got, nullptr)
               ? static_cast<uint64_t>(length.Length.QuadPart)
               : 0;
}

int lastErrno() {
    const int e = errnoOf(GetLastError());
    errno = e;
    return e;
}

int descriptorOf(HANDLE handle, bool readOnly) {
    const int fd =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | (readOnly ? _O_RDONLY : 0));
    if (fd < 0) CloseHandle(handle);
    return fd;
}

HANDLE handleOf(int descriptor) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

bool isDevicePath(const std::string& path) {
    return path.size() > 4 &&
           (path.compare(0, 4, "\\\\.\\") == 0 || path.compare(0, 4, "//./") == 0);
}

bool isElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool ok =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
    CloseHandle(token);
    return ok && elevation.TokenIsElevated != 0;
}

HANDLE openForQuery(const std::string& path, DWORD access, bool noFollow) {
    return CreateFileW(
        widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
}

}  // namespace kestrum::platform::win32
