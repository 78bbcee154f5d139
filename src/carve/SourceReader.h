// The thorough scan's view of the medium: bytes from the current batch when they
// are there, else through the scan's sector source and a small block cache, so a
// walk over a long file costs a few reads and bounded memory.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "carve/ByteReader.h"
#include "disk/SectorSource.h"

namespace kestrum::carve {

// Sectors of the source up to (not including) endSector, read in blocks of
// kBlockSectors and kept in a few slots, least recently used first out.
class SectorCache {
public:
    static constexpr uint32_t kBlockSectors = 512;  // 256 KiB
    static constexpr size_t kSlots = 4;

    SectorCache(SectorSource& source, uint64_t endSector);

    // The batch the scan holds in memory; reads inside it are served from there.
    void setBatch(const uint8_t* data, uint64_t startSector, uint64_t sectors);

    // Copies n bytes from the absolute byte position at; the caller keeps the
    // request below endSector x 512.
    void copy(uint64_t at, uint8_t* out, size_t n);

    uint64_t endSector() const { return end_; }
    // Whether the n bytes at the absolute position at are all in the batch.
    bool inBatch(uint64_t at, size_t n) const;

private:
    struct Slot {
        uint64_t block = UINT64_MAX;  // first sector / kBlockSectors
        uint64_t used = 0;
        std::vector<uint8_t> bytes;
    };
    const uint8_t* slotFor(uint64_t block);

    SectorSource& source_;
    uint64_t end_;
    const uint8_t* batch_ = nullptr;
    uint64_t batchStart_ = 0;
    uint64_t batchSectors_ = 0;
    std::array<Slot, kSlots> slots_;
    uint64_t clock_ = 0;
};

// A file candidate's bytes from startSector on, up to limit bytes. Once stop is
// raised, a read beyond the batch gives nothing and marks the reader cut, so a
// walk through a long file ends soon after the user asks the scan to stop.
class SourceReader final : public ByteReader {
public:
    SourceReader(SectorCache& cache, uint64_t startSector, uint64_t limit,
                 const std::atomic<uint8_t>* stop = nullptr);
    uint64_t limit() const override { return limit_; }
    size_t read(uint64_t offset, void* out, size_t n) override;
    bool cut() const { return cut_; }  // a read was refused for the stop request

private:
    SectorCache& cache_;
    uint64_t start_;  // in bytes
    uint64_t limit_;
    const std::atomic<uint8_t>* stop_;
    bool cut_ = false;
};

}  // namespace kestrum::carve
