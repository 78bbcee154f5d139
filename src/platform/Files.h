// Entries of the file system as the engines handle them: removed without following
// links, compared by identity, made writable, and the room left on a volume.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrum::platform {

// True when anything is at path: a file, a folder, or a link (not followed, so a
// dangling link counts).
bool entryExists(const std::string& path);

// Removes whatever is at path without following it; true when nothing is left.
// A folder is never removed.
bool removeEntry(const std::string& path);

// Puts the entry at from in the place of to, in one step: whoever opens to sees
// the old entry or the new one, never a part. Links are moved, not followed.
bool renameEntry(const std::string& from, const std::string& to);

// Clears read-only (gives the owner write permission back), as "set the
// attributes to normal" did; does nothing to a missing or writable file.
void makeWritable(const std::string& path);

// Creates the folder path (not its parents); false when it could not be made.
bool createDirectory(const std::string& path);

// Creates the folder path with every missing parent (mode 0755); true when it is
// there afterwards, else false with the reason in *error.
bool createDirectories(const std::string& path, std::string* error = nullptr);

// True when a and b name the same file or folder (through links, hard links
// and differently spelled paths); false when either does not exist.
bool sameFile(const std::string& a, const std::string& b);

// True when path is, or links to, a block device.
bool isBlockDevice(const std::string& path);

// Bytes the current user may still write on the volume that holds folder.
std::optional<uint64_t> freeBytesOf(const std::string& folder);
// The length of the plain file at path (a link is not followed); none for
// anything else or nothing.
std::optional<uint64_t> regularFileSize(const std::string& path);
// The unit a file's space is counted in on that volume; 1 when it cannot be told.
uint64_t blockSizeOf(const std::string& folder);

}  // namespace kestrum::platform
