// Positioned writes, growth without truncation and durable flushes on a Win32
// handle: the pieces of a rescued image.
#include "platform/PositionedFile.h"

#include <io.h>
#include <cerrno>

#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;

std::unique_ptr<PositionedFile> PositionedFile::open(const std::string& path, bool fresh,
                                                     int* error) {
    const std::wstring wide = widen(path);
    if (fresh) {
        // Removing rather than truncating removes a link without writing through it.
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (attributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
            DeleteFileW(wide.c_str());
        }
    }
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, fresh ? CREATE_NEW : OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        fail(error, attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                        ? EISDIR
                        : lastErrno());
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(h);
        fail(error, (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EISDIR : EINVAL);
        return nullptr;
    }
    const int fd = descriptorOf(h, false);
    if (fd < 0) {
        fail(error, EMFILE);
        return nullptr;
    }
    return std::unique_ptr<PositionedFile>(new PositionedFile(fd));
}

PositionedFile::~PositionedFile() {
    close();
}

bool PositionedFile::writeAt(uint64_t offset, const void* data, size_t size, int* error) {
    const auto* p = static_cast<const char*>(data);
    const HANDLE h = handleOf(fd_);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD wrote = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(h, p, ask, &wrote, &at)) return fail(error, lastErrno());
        if (wrote == 0) return fail(error, ENOSPC);
        p += wrote;
        offset += wrote;
        size -= wrote;
    }
    return true;
}

bool PositionedFile::extendTo(uint64_t bytes, int* error) {
    if (size() >= bytes) return true;
    return resize(bytes, error);
}

bool PositionedFile::resize(uint64_t bytes, int* error) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
    if (!SetFileInformationByHandle(handleOf(fd_), FileEndOfFileInfo, &end, sizeof end))
        return fail(error, lastErrno());
    return true;
}

bool PositionedFile::sync(int* error) {
    if (!FlushFileBuffers(handleOf(fd_))) return fail(error, lastErrno());
    return true;
}

uint64_t PositionedFile::size() const {
    return fileSizeOf(fd_);
}

bool PositionedFile::close(int* error) {
    const int failed = closeDescriptor(fd_);
    return failed == 0 || fail(error, failed);
}

uint64_t allocatedBytes(const std::string& path) {
    const std::wstring wide = widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return 0;
    // A sparse or compressed file takes less than its length.
    DWORD high = 0;
    const DWORD low = GetCompressedFileSizeW(wide.c_str(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace kestrum::platform
