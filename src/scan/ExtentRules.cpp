// The extent rules. FindFileEnd runs on every sector of an open file, in place on
// the scan's buffer; FollowMarkerRun reads ahead through the scan's source.
#include "scan/ExtentRules.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace kestrum {
namespace {

constexpr size_t kLastStart = kSectorBytes - 1;
constexpr uint32_t kMissesToStop = 350;
constexpr uint64_t kSectorsAfterLastHit = 10;
constexpr uint32_t kReadAheadSectors = 40;

uint32_t toCount(uint64_t n) {
    return static_cast<uint32_t>(std::min<uint64_t>(n, std::numeric_limits<uint32_t>::max()));
}

int32_t fileEnds(stExtInfo& record, uint64_t count, uint32_t& sectorCount, int32_t& foundCount) {
    foundCount = takeFoundNumber(record);
    sectorCount = toCount(count);
    return kFileEnds;
}

bool hasMarker(const stExtInfo& r, const SectorView& sector) {
    for (int32_t k = 0; k < std::min(r.endCount, 5); ++k) {
        const SigEntry& e = r.ends[static_cast<size_t>(k)];
        if (e.length < 0) continue;
        const size_t n = static_cast<size_t>(std::min(e.length, 28));
        const bool found =
            e.offset == -1
                ? sector.find(e.bytes.data(), n, kLastStart) != SectorView::npos
                : e.offset >= 0 && sector.equalAt(static_cast<size_t>(e.offset), e.bytes.data(), n);
        if (found) return true;
    }
    return false;
}

// The size field's value as a signed 32-bit number; bytes it does not cover are 0.
int32_t sizeFieldValue(const stExtInfo& r, const SectorView& sector, bool bigEndian) {
    const size_t width = static_cast<size_t>(std::clamp(r.sizeFieldWidth, 0, 4));
    const size_t at = static_cast<size_t>(r.sizeFieldOffset);
    uint32_t v = 0;
    for (size_t b = 0; b < width; ++b) {
        const uint32_t byte = sector.byteAt(at + b);
        v = bigEndian ? (v << 8) | byte : v | byte << (8 * b);
    }
    return static_cast<int32_t>(v);
}

}  // namespace

bool followsMarkerRun(const char* extName) {
    return std::strcmp(extName, "PSP") == 0 || std::strcmp(extName, "MP3") == 0;
}

uint64_t nextMarkerSector(const stExtInfo& r, const SectorView& view) {
    if (r.endCount <= 0 || r.sizeFieldOffset != -1) return view.firstSector();
    size_t first = SectorView::npos;
    for (int32_t k = 0; k < std::min(r.endCount, 5); ++k) {
        const SigEntry& e = r.ends[static_cast<size_t>(k)];
        if (e.length < 0) continue;
        if (e.offset != -1) return view.firstSector();
        const size_t n = static_cast<size_t>(std::min(e.length, 28));
        // Only up to the earliest hit so far: a later one cannot come first.
        const size_t limit = first == SectorView::npos ? view.size() : first;
        const size_t at = view.find(e.bytes.data(), n, limit);
        if (at != SectorView::npos && at < first) first = at;
    }
    if (first == SectorView::npos) return view.firstSector() + view.size() / kSectorBytes;
    return view.firstSector() + first / kSectorBytes;
}

int32_t FindFileEnd(TypeList& types, size_t index, const SectorView& sector, uint64_t fileStart,
                    uint64_t current, uint32_t& sectorCount, int32_t& foundCount) {
    stExtInfo& r = types[index];
    if (r.endCount <= 0) return kNoEndHere;

    if (r.sizeFieldOffset != -1) {
        if (r.sizeFieldOffset < 0) return kNoEndHere;
        const bool au = std::strcmp(r.extName, "AU") == 0;
        const bool strict =
            std::strcmp(r.extName, "BMP") == 0 || std::strcmp(r.extName, "WMA") == 0;
        int32_t v = sizeFieldValue(r, sector, au);
        if (au) {
            if (v <= 0) return kNoEndHere;
            if (v > r.sizeFieldMax) return kRejected;
        } else if (strict) {
            if (v <= 0 || v > r.sizeFieldMax) return kRejected;
        } else {
            if (v <= 0) return kNoEndHere;
            if (v > r.sizeFieldMax) v = r.maxSizeBytes;
        }
        // The field holds the whole file's size; an exact multiple of 512 still
        // gets one sector more.
        return fileEnds(r, static_cast<uint64_t>(std::max(v, 0)) / kSectorBytes + 1, sectorCount,
                        foundCount);
    }

    if (hasMarker(r, sector)) return fileEnds(r, current - fileStart + 1, sectorCount, foundCount);
    return kNoEndHere;
}

int32_t FollowMarkerRun(TypeList& types, size_t index, const SectorView& sector, uint64_t fileStart,
                        uint64_t current, uint32_t& sectorCount, int32_t& foundCount,
                        SectorSource& source) {
    stExtInfo& r = types[index];
    // Read-ahead in blocks; never more sectors than the walk is sure to read, so
    // no sector is read that one-at-a-time reading would have left alone.
    std::array<uint8_t, kReadAheadSectors * kSectorBytes> block{};
    uint32_t inBlock = 0;
    uint32_t used = 0;

    std::array<uint8_t, kSectorBytes> work{};
    std::memcpy(work.data(), sector.data(), std::min(sector.size(), kSectorBytes));
    uint64_t n = fileStart;
    uint64_t last = fileStart;
    uint32_t misses = 0;
    do {
        // The whole marker must lie inside this one sector.
        if (hasMarker(r, SectorView(work.data(), work.size(), n))) {
            last = n;
            misses = 0;
        }
        if (used == inBlock) {
            inBlock = std::min(kReadAheadSectors, kMissesToStop - misses);
            used = 0;
            readEachSector(source, n + 1, inBlock, block.data());
        }
        std::memcpy(work.data(), block.data() + size_t{used++} * kSectorBytes, kSectorBytes);
        ++n;
        ++misses;
    } while (misses < kMissesToStop);

    // current is the header sector, so this is the distance to the last hit + 10.
    const uint64_t end = last + kSectorsAfterLastHit;
    return fileEnds(r, end - std::min(current, end), sectorCount, foundCount);
}

}  // namespace kestrum
