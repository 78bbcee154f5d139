#include "platform/RecordFile.h"

#include <cerrno>
#include <cstring>

#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;

RecordRead readRecordFile(const std::string& path, uint64_t maxBytes, const std::string& what,
                          std::string& text, std::string& error) {
    const std::wstring wide = widen(path);
    if (isDevicePath(path)) {
        error = what + " is not a regular file (a device, a pipe or a socket). Give a file name.";
        return RecordRead::Refused;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const int err = lastErrno();
        if (err == ENOENT) return RecordRead::Missing;
        error = what + " cannot be read: " + std::strerror(err) + ".";
        return RecordRead::Refused;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = what + " is a folder. Give a file name.";
        return RecordRead::Refused;
    }
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = what + " cannot be read: " + std::strerror(lastErrno()) + ".";
        return RecordRead::Refused;
    }
    LARGE_INTEGER bytes{};
    const bool plain = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &bytes);
    if (!plain || static_cast<uint64_t>(bytes.QuadPart) > maxBytes) {
        CloseHandle(h);
        error = plain ? what + " is larger than " + std::to_string(maxBytes >> 20) +
                            " MiB: it is not a record this tool or GNU ddrescue wrote."
                      : what +
                            " is not a regular file (a device, a pipe or a socket). Give a "
                            "file name.";
        return RecordRead::Refused;
    }
    text.clear();
    text.reserve(static_cast<size_t>(bytes.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
            error = what + " cannot be read: " + std::strerror(lastErrno()) + ".";
            CloseHandle(h);
            return RecordRead::Refused;
        }
        if (got == 0) break;
        // A file that grows while it is read stops at the bound all the same.
        if (text.size() + got > maxBytes) {
            CloseHandle(h);
            error = what + " grew past " + std::to_string(maxBytes >> 20) + " MiB while read.";
            return RecordRead::Refused;
        }
        text.append(buffer, got);
    }
    CloseHandle(h);
    return RecordRead::Read;
}

}  // namespace kestrum::platform
