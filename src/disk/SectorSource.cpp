// Read-ahead for the rules that follow a file beyond the scan's batch.
#include "disk/SectorSource.h"

#include <algorithm>
#include <cstring>

#include "disk/SectorView.h"

namespace kestrum {

namespace {
// One device read: larger requests are split by the reader and only the last
// part decides its result, which would hide a failed part from us.
constexpr uint32_t kBlockSectors = 40;
}  // namespace

void readEachSector(SectorSource& source, uint64_t start, uint32_t count, uint8_t* buffer) {
    const uint64_t guard = source.guardEnd();
    while (count > 0) {
        if (guard > 0 && start > guard) {
            std::memset(buffer, 0, size_t{count} * kSectorBytes);
            return;
        }
        // Every sector of the block starts at or before the guard, so a read of
        // the block passes the guard exactly where one-sector reads would.
        uint32_t n = std::min(count, kBlockSectors);
        if (guard > 0 && guard - start < n) n = static_cast<uint32_t>(guard - start + 1);
        if (n == 1 || source.tryRead(start, n, buffer) == 0) {
            for (uint32_t i = 0; i < n; ++i)
                source.read(start + i, 1, buffer + size_t{i} * kSectorBytes);
        }
        start += n;
        buffer += size_t{n} * kSectorBytes;
        count -= n;
    }
}

}  // namespace kestrum
