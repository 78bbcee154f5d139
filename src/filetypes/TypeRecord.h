// One selected file type as the scan engine sees it: header signatures, end
// markers, an optional size field and the limits. Plain values, copied freely.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace kestrum {

struct SigEntry {
    std::array<uint8_t, 28> bytes{};
    int32_t offset = -1;  // position in the sector, or -1 for anywhere
    int32_t length = -1;  // bytes compared, or -1 when the entry is not in use
};

struct stExtInfo {
    char extName[6] = {};  // at most 4 characters, NUL-terminated
    int32_t maxSizeBytes = 0;
    int32_t sigCount = 0;
    std::array<SigEntry, 5> sigs{};
    int32_t sizeFieldOffset = -1;
    int32_t sizeFieldWidth = -1;
    int32_t sizeFieldMax = 0;
    int32_t endCount = 0;
    std::array<SigEntry, 5> ends{};
    int32_t spanLimit = 0;
    // Written by the scan thread while the results page's timer reads it: access
    // it through foundCountOf()/setFoundCount() while a scan may run.
    int32_t foundCount = 0;
};

inline int32_t foundCountOf(const stExtInfo& r) {
    return std::atomic_ref<const int32_t>(r.foundCount).load(std::memory_order_relaxed);
}
inline void setFoundCount(stExtInfo& r, int32_t n) {
    std::atomic_ref<int32_t>(r.foundCount).store(n, std::memory_order_relaxed);
}
// Counts one more file of the type in and returns its number ("File<n>").
inline int32_t takeFoundNumber(stExtInfo& r) {
    const int32_t n = foundCountOf(r) + 1;
    setFoundCount(r, n);
    return n;
}

// The selected types in catalogue order. Its length does not change while a scan
// runs, so the UI may read extName and foundCount of its records meanwhile.
using TypeList = std::vector<stExtInfo>;

}  // namespace kestrum
