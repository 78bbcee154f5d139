// Sectors whose reads fail, as they would on a failing medium: the Windows
// reader's stand-in for a failing device, so that the bad-sector paths (split
// reads, skip, retry, rescue maps) run on any machine.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrum::platform {

// Byte ranges [first, end) of a source whose reads fail with an I/O error.
using FaultRanges = std::vector<std::pair<uint64_t, uint64_t>>;

// Reads of the source opened by exactly this path fail where they touch ranges;
// an empty list clears them. Sources opened before keep what they had.
void setReadFaults(const std::string& path, FaultRanges ranges);

// The faults of path: those set above, else those of $KESTRUM_READ_FAULTS
// ("FIRST-LAST,..." in 512-byte sectors, inclusive), which apply to every source.
FaultRanges readFaultsFor(const std::string& path);

// Whether a read of size bytes at offset touches one of ranges.
bool touchesFault(const FaultRanges& ranges, uint64_t offset, uint64_t size);

}  // namespace kestrum::platform
