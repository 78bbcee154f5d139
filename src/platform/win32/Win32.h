// Shared helpers of the Windows platform layer: UTF-8 paths to the wide Win32
// calls and back, system errors as errno values (the engine's interfaces speak
// errno), and C runtime descriptors that carry a Win32 handle.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>

#include <cstdint>
#include <string>

namespace kestrum::platform::win32 {

std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
std::string narrow(const wchar_t* text, size_t size);

// The errno value closest to a Win32 error (ERROR_ACCESS_DENIED is EACCES ...).
int errnoOf(DWORD error);
// errnoOf(GetLastError()), also stored in errno.
int lastErrno();

// A descriptor of the C runtime that owns handle (closing it closes the handle);
// -1 when none could be made, the handle then closed.
int descriptorOf(HANDLE handle, bool readOnly);
// The handle behind a descriptor made by descriptorOf().
HANDLE handleOf(int descriptor);
// The length of the file behind descriptor; 0 when it cannot be told.
uint64_t fileSizeOf(int descriptor);
// Closes descriptor (if open) and sets it to -1: 0, or the errno of a failed close.
int closeDescriptor(int& descriptor);
// A disk's or volume's length as the disk driver gives it; 0 when it does not.
uint64_t deviceLength(HANDLE handle);

// Stores code in *error (when asked for) and returns false, for the calls that
// report failure that way.
inline bool fail(int* error, int code) {
    if (error) *error = code;
    return false;
}

// True for the names of whole disks and volumes ("\\.\PhysicalDrive0", "\\.\K:").
bool isDevicePath(const std::string& path);

// Whether this process runs with an administrator's token (an elevated prompt).
bool isElevated();

// Opens path with the sharing and flags that reading sources and folders takes;
// a link (reparse point) is opened itself, never followed, when noFollow.
HANDLE openForQuery(const std::string& path, DWORD access, bool noFollow);

}  // namespace kestrum::platform::win32
