// Copies a found file's bytes from a source: the one routine saving and preview
// copies read through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "disk/SectorReader.h"
#include "scan/FileInfo.h"

namespace kestrum {

// Requests of this size (or the file's length when smaller) reach the source and
// the destination: a slow medium pays its latency per request, not per sector.
constexpr uint32_t kCopyRequestSectors = 2048;  // 1 MiB

// A buffer on a page boundary: a medium read without the page cache (a FUSE
// filesystem serving direct I/O, O_DIRECT) splits a request at the pages of the
// buffer, so a megabyte that straddles one page more costs two requests.
class PageAlignedBuffer {
public:
    static constexpr size_t kPage = 4096;
    explicit PageAlignedBuffer(size_t bytes);
    ~PageAlignedBuffer();
    PageAlignedBuffer(const PageAlignedBuffer&) = delete;
    PageAlignedBuffer& operator=(const PageAlignedBuffer&) = delete;
    unsigned char* data() const { return bytes_; }
    size_t size() const { return size_; }

private:
    unsigned char* bytes_;
    size_t size_;
};

struct FileCopyOutcome {
    bool written = true;         // false when write refused bytes; the copy stops there
    uint64_t zeroedSectors = 0;  // sectors of the file the source could not deliver
};

// Reads exactly the file's extents from source and hands them to write in order.
// between runs before every request after the first (a pause gate).
FileCopyOutcome copyFileBytes(const FileInfo& file, const SectorReader& source,
                              const std::function<bool(const void*, size_t)>& write,
                              const std::function<void()>& between = {});

}  // namespace kestrum
