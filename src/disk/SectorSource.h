// Where the scan gets its sectors from. The application reads through the sector
// reader; tests, the fuzz target and the benchmark read from memory.
#pragma once

#include <cstdint>

namespace kestrum {

class SectorSource {
public:
    virtual ~SectorSource() = default;

    // Reads count sectors from start into buffer (count x 512 bytes), as the
    // sector reader does: when guardEnd() is above 0 and start is beyond it, the
    // buffer is zero-filled instead (only the start is compared). Nonzero when
    // every sector was delivered as read.
    virtual int32_t read(uint64_t start, uint32_t count, uint8_t* buffer) = 0;

    // As read(), for a block that is read again sector by sector when it fails:
    // a failure is not asked about.
    virtual int32_t tryRead(uint64_t start, uint32_t count, uint8_t* buffer) {
        return read(start, count, buffer);
    }

    // The range end the reads are guarded by; 0 = no guard.
    virtual uint64_t guardEnd() const = 0;

    // True when reads may come from two threads at once: the scan then reads its
    // next batches on a worker.
    virtual bool takesReadsFromTwoThreads() const { return false; }
};

// Reads count sectors so that each ends up exactly as a one-sector read() of it
// would give it: sectors beyond the guard are zeros, the rest are read in blocks
// of at most one device chunk, and a block that is not delivered whole is read
// again sector by sector (only those reads ask about a bad sector).
void readEachSector(SectorSource& source, uint64_t start, uint32_t count, uint8_t* buffer);

}  // namespace kestrum
