// Serving a walk's reads from the batch or from cached blocks of the source.
#include "carve/SourceReader.h"

#include <algorithm>
#include <cstring>

namespace kestrum::carve {

namespace {
constexpr uint64_t kSector = 512;
}

SectorCache::SectorCache(SectorSource& source, uint64_t endSector)
    : source_(source), end_(endSector) {}

void SectorCache::setBatch(const uint8_t* data, uint64_t startSector, uint64_t sectors) {
    batch_ = data;
    batchStart_ = startSector;
    batchSectors_ = sectors;
}

const uint8_t* SectorCache::slotFor(uint64_t block) {
    Slot* victim = &slots_[0];
    for (Slot& s : slots_) {
        if (s.block == block) {
            s.used = ++clock_;
            return s.bytes.data();
        }
        if (s.used < victim->used) victim = &s;
    }
    const uint64_t first = block * kBlockSectors;
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kBlockSectors, end_ - first));
    victim->bytes.resize(size_t{kBlockSectors} * kSector);
    // Reads never reach past the range: the sectors beyond it are no business of
    // this scan, and on a device they may be beyond its end.
    source_.read(first, count, victim->bytes.data());
    victim->block = block;
    victim->used = ++clock_;
    return victim->bytes.data();
}

bool SectorCache::inBatch(uint64_t at, size_t n) const {
    const uint64_t from = batchStart_ * kSector;
    return batch_ != nullptr && at >= from && at - from + n <= batchSectors_ * kSector;
}

void SectorCache::copy(uint64_t at, uint8_t* out, size_t n) {
    while (n > 0) {
        const uint64_t sector = at / kSector;
        size_t take;
        if (batch_ != nullptr && sector >= batchStart_ && sector - batchStart_ < batchSectors_) {
            const uint64_t from = at - batchStart_ * kSector;
            take = static_cast<size_t>(std::min<uint64_t>(n, batchSectors_ * kSector - from));
            std::memcpy(out, batch_ + from, take);
        } else {
            const uint64_t block = sector / kBlockSectors;
            const uint64_t from = at - block * kBlockSectors * kSector;
            take = static_cast<size_t>(std::min<uint64_t>(n, kBlockSectors * kSector - from));
            std::memcpy(out, slotFor(block) + from, take);
        }
        at += take;
        out += take;
        n -= take;
    }
}

SourceReader::SourceReader(SectorCache& cache, uint64_t startSector, uint64_t limit,
                           const std::atomic<uint8_t>* stop)
    : cache_(cache), start_(startSector * kSector), stop_(stop) {
    const uint64_t room =
        cache.endSector() > startSector ? (cache.endSector() - startSector) * kSector : 0;
    limit_ = std::min(limit, room);
}

size_t SourceReader::read(uint64_t offset, void* out, size_t n) {
    if (offset >= limit_) return 0;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, limit_ - offset));
    if (stop_ != nullptr && stop_->load(std::memory_order_relaxed) != 0 &&
        !cache_.inBatch(start_ + offset, take)) {
        cut_ = true;
        return 0;
    }
    cache_.copy(start_ + offset, static_cast<uint8_t*>(out), take);
    return take;
}

}  // namespace kestrum::carve
