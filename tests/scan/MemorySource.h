// A source held in memory, guarded like the sector reader, for the scan tests,
// the fuzz target and the throughput benchmark; plus a way to build its bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "disk/SectorSource.h"

namespace kestrum::test {

// The bytes stand for the sectors from firstSector on; every other sector is
// zeros. Like the sector reader, a read that starts beyond guardEnd (when above
// 0) is zero-filled and returns 0.
class MemorySource : public SectorSource {
public:
    MemorySource(const uint8_t* data, size_t size, uint64_t guardEnd = 0, uint64_t firstSector = 0)
        : data_(data), size_(size), guard_(guardEnd), first_(firstSector) {}
    explicit MemorySource(const std::vector<uint8_t>& bytes, uint64_t guardEnd = 0,
                          uint64_t firstSector = 0)
        : MemorySource(bytes.data(), bytes.size(), guardEnd, firstSector) {}

    int32_t read(uint64_t start, uint32_t count, uint8_t* buffer) override {
        if (logReads) reads.emplace_back(start, count);
        const size_t bytes = size_t{count} * 512;
        std::memset(buffer, 0, bytes);
        if (guard_ > 0 && start > guard_) return 0;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t s = start + i;
            if (s < first_) continue;
            const uint64_t at = (s - first_) * 512;
            if (at >= size_) break;
            std::memcpy(buffer + size_t{i} * 512, data_ + at, std::min<uint64_t>(512, size_ - at));
        }
        return 1;
    }
    uint64_t guardEnd() const override { return guard_; }

    bool logReads = false;
    std::vector<std::pair<uint64_t, uint32_t>> reads;  // (start, count) of each read

private:
    const uint8_t* data_;
    size_t size_;
    uint64_t guard_;
    uint64_t first_;
};

// Bytes of a medium, written sector by sector.
struct Medium {
    explicit Medium(uint64_t sectors) : bytes(sectors * 512) {}
    Medium& put(uint64_t sector, size_t offset, std::initializer_list<uint8_t> b) {
        fits(sector * 512 + offset + b.size());
        std::copy(b.begin(), b.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(sector * 512 + offset));
        return *this;
    }
    Medium& put(uint64_t sector, size_t offset, std::string_view text) {
        fits(sector * 512 + offset + text.size());
        std::copy(text.begin(), text.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(sector * 512 + offset));
        return *this;
    }
    Medium& putLE32(uint64_t sector, size_t offset, uint32_t v) {
        return put(sector, offset,
                   {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    Medium& putBE32(uint64_t sector, size_t offset, uint32_t v) {
        return put(sector, offset,
                   {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    }
    uint8_t* sector(uint64_t s) { return bytes.data() + s * 512; }
    void fits(uint64_t end) const {
        if (end > bytes.size()) throw std::out_of_range("Medium::put beyond the medium");
    }
    std::vector<uint8_t> bytes;
};

}  // namespace kestrum::test
