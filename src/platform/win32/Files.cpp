// File-system entries through the wide Win32 calls.
#include "platform/Files.h"

#include <cerrno>
#include <cstring>

#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;
namespace {

DWORD attributesOf(const std::string& path) {
    return GetFileAttributesW(widen(path).c_str());
}

std::wstring volumeRootOf(const std::string& folder) {
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(widen(folder).c_str(), root, MAX_PATH)) return {};
    return root;
}

}  // namespace

bool entryExists(const std::string& path) {
    return attributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

bool removeEntry(const std::string& path) {
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    // A read-only file is removed all the same, as unlinking it would be; a
    // link (reparse point) is removed itself, never what it points to.
    const std::wstring wide = widen(path);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(wide.c_str())
                                                                 : DeleteFileW(wide.c_str());
    return removed || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool renameEntry(const std::string& from, const std::string& to) {
    const std::wstring source = widen(from);
    const std::wstring target = widen(to);
    // A program that has the old file open for a moment (the page reading the last
    // thumbnail, a virus scanner) keeps it from being replaced: a new thumbnail or
    // a saved file would be dropped. Such a hold passes; try again briefly.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt == 40)
            return false;
        Sleep(5);
    }
}

void makeWritable(const std::string& path) {
    const DWORD attributes = attributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(widen(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool createDirectory(const std::string& path) {
    return CreateDirectoryW(widen(path).c_str(), nullptr) != 0;
}

bool createDirectories(const std::string& path, std::string* error) {
    // Each level after the root ("C:\", "\\server\share\" or a leading slash).
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':')
        start = 2;
    else if (path.rfind("\\\\", 0) == 0 || path.rfind("//", 0) == 0)
        start = path.find_first_of("\\/", path.find_first_of("\\/", 2) + 1);
    if (start == std::string::npos) start = path.size();
    for (size_t cut = path.find_first_of("\\/", start + 1);;
         cut = path.find_first_of("\\/", cut + 1)) {
        const std::string part = path.substr(0, cut);
        if (!part.empty() && part.size() > start && attributesOf(part) == INVALID_FILE_ATTRIBUTES &&
            !CreateDirectoryW(widen(part).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            if (error) *error = part + ": " + std::strerror(lastErrno());
            return false;
        }
        if (cut == std::string::npos) break;
    }
    const DWORD attributes = attributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    if (error) *error = path + ": " + std::strerror(ENOTDIR);
    return false;
}

bool sameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    const HANDLE ha = openForQuery(a, 0, false);
    const HANDLE hb = openForQuery(b, 0, false);
    const bool same = ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE &&
                      GetFileInformationByHandle(ha, &ia) && GetFileInformationByHandle(hb, &ib) &&
                      ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                      ia.nFileIndexHigh == ib.nFileIndexHigh &&
                      ia.nFileIndexLow == ib.nFileIndexLow;
    if (ha != INVALID_HANDLE_VALUE) CloseHandle(ha);
    if (hb != INVALID_HANDLE_VALUE) CloseHandle(hb);
    return same;
}

bool isBlockDevice(const std::string& path) {
    if (!isDevicePath(path)) return false;
    const HANDLE h = openForQuery(path, 0, false);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

std::optional<uint64_t> freeBytesOf(const std::string& folder) {
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExW(widen(folder).c_str(), &available, &total, &free)) return std::nullopt;
    return available.QuadPart;
}

std::optional<uint64_t> regularFileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
        return std::nullopt;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

uint64_t blockSizeOf(const std::string& folder) {
    const std::wstring root = volumeRootOf(folder);
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (root.empty() ||
        !GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &clusters) ||
        sectorsPerCluster * bytesPerSector == 0)
        return 1;
    return static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
}

}  // namespace kestrum::platform
