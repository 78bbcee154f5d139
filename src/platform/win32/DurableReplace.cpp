// Temporary file, FlushFileBuffers, then MoveFileExW with write-through: after a
// crash either the old or the new record is there in full.
#include "platform/DurableReplace.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;
namespace {

bool fail(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + std::strerror(lastErrno());
    return false;
}

}  // namespace

bool replaceDurably(const std::string& path, const std::string& contents, std::string* error) {
    const std::string temp = path + ".tmp";
    const std::wstring wideTemp = widen(temp);
    DeleteFileW(wideTemp.c_str());
    const HANDLE h = CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(error, temp);
    const char* p = contents.data();
    size_t left = contents.size();
    while (left > 0) {
        DWORD wrote = 0;
        if (!WriteFile(h, p, static_cast<DWORD>(std::min<size_t>(left, 1u << 30)), &wrote,
                       nullptr) ||
            wrote == 0) {
            if (wrote == 0 && GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_DISK_FULL);
            const DWORD saved = GetLastError();
            CloseHandle(h);
            DeleteFileW(wideTemp.c_str());
            SetLastError(saved);
            return fail(error, temp);
        }
        p += wrote;
        left -= wrote;
    }
    if (!FlushFileBuffers(h)) {
        const DWORD saved = GetLastError();
        CloseHandle(h);
        DeleteFileW(wideTemp.c_str());
        SetLastError(saved);
        return fail(error, temp);
    }
    CloseHandle(h);
    // Write-through: the move itself is on the medium when the call returns.
    if (!MoveFileExW(wideTemp.c_str(), widen(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD saved = GetLastError();
        DeleteFileW(wideTemp.c_str());
        SetLastError(saved);
        return fail(error, path);
    }
    return true;
}

bool readWholeFile(const std::string& path, std::string& contents) {
    std::ifstream in(std::filesystem::path(widen(path)), std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    contents = text.str();
    return !in.bad();
}

}  // namespace kestrum::platform
