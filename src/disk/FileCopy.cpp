#include "disk/FileCopy.h"

#include <algorithm>
#include <cstdlib>
#ifdef _WIN32
#include <malloc.h>
#endif

#include "disk/SectorReader.h"

namespace kestrum {

#ifdef _WIN32
// The Windows C library has no aligned_alloc: its aligned blocks have their own free.
PageAlignedBuffer::PageAlignedBuffer(size_t bytes)
    : bytes_(
          static_cast<unsigned char*>(_aligned_malloc((bytes + kPage - 1) / kPage * kPage, kPage))),
      size_(bytes_ ? bytes : 0) {}

PageAlignedBuffer::~PageAlignedBuffer() {
    _aligned_free(bytes_);
}
#else
PageAlignedBuffer::PageAlignedBuffer(size_t bytes)
    : bytes_(static_cast<unsigned char*>(
          std::aligned_alloc(kPage, (bytes + kPage - 1) / kPage * kPage))),
      size_(bytes_ ? bytes : 0) {}

PageAlignedBuffer::~PageAlignedBuffer() {
    std::free(bytes_);
}
#endif

FileCopyOutcome copyFileBytes(const FileInfo& file, const SectorReader& source,
                              const std::function<bool(const void*, size_t)>& write,
                              const std::function<void()>& between) {
    // One buffer per thread for the life of the process: a fresh megabyte per file
    // would be mapped and faulted in again for every small picture.
    thread_local const PageAlignedBuffer buffer(size_t{kCopyRequestSectors} * kSectorSize);
    FileCopyOutcome outcome;
    if (buffer.data() == nullptr) return {false, 0};
    const uint64_t zeroedBefore = sectorsZeroedOnThisThread();
    const FileExtents extents = fileExtents(file);
    bool first = true;
    for (int e = 0; e < extents.count && outcome.written; ++e) {
        uint64_t sector = extents.piece[e].startSector;
        uint64_t left = extents.piece[e].bytes;  // an exact length ends inside a sector
        while (left > 0) {
            if (!first && between) between();
            first = false;
            const uint64_t sectors = (left + kSectorSize - 1) / kSectorSize;
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(sectors, kCopyRequestSectors));
            source.read(sector, n, buffer.data());
            const size_t bytes =
                static_cast<size_t>(std::min<uint64_t>(left, uint64_t{n} * kSectorSize));
            if (!write(buffer.data(), bytes)) {
                outcome.written = false;
                break;
            }
            sector += n;
            left -= bytes;
        }
    }
    outcome.zeroedSectors = sectorsZeroedOnThisThread() - zeroedBefore;
    return outcome;
}

}  // namespace kestrum
