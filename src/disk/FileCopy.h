// Copies a found file's bytes from the session's source: the one routine saving
// and preview copies read through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "scan/FileInfo.h"

namespace kestrum {

// Requests of this size (or the file's length when smaller) reach the source and
// the destination: a slow medium pays its latency per request, not per sector.
constexpr uint32_t kCopyRequestSectors = 2048;  // 1 MiB

struct FileCopyOutcome {
    bool written = true;         // false when write refused bytes; the copy stops there
    uint64_t zeroedSectors = 0;  // sectors of the file the source could not deliver
};

// Reads exactly the file's extents through the sector reader and hands them to
// write in order. between runs before every request after the first (a pause gate).
FileCopyOutcome copyFileBytes(const FileInfo& file, const std::string& devicePath,
                              const std::function<bool(const void*, size_t)>& write,
                              const std::function<void()>& between = {});

}  // namespace kestrum
