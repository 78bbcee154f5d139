// The one way every byte of the source is read: a device by its "\\.\" path, the
// single image "Image0.img", an image file of any name, or an image in numbered
// pieces, as a SourceSpec names it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/ImageLayout.h"
#include "disk/SourceSpec.h"

namespace kestrum {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kChunkSectors = 40;

// The source a SourceSpec names, opened for reading. Open handles are kept for the
// process (see forgetSourceHandles), so a reader is cheap to make and to copy.
class SectorReader {
public:
    // Reads beginning past guardEnd give zeros (0 = no guard).
    explicit SectorReader(SourceSpec spec, uint64_t guardEnd = 0);

    // Reads count sectors from start into buffer (count x 512 bytes), in one request
    // per device or image piece. Nonzero when every sector was delivered. A failed
    // request is split down to single sectors, so only sectors that really cannot
    // be read are zeros (never stale bytes); those alone go to the front end's
    // bad-sector question. Only the start is compared with the guard: a request
    // that begins inside it is read in full.
    int32_t read(uint64_t start, uint32_t count, void* buffer) const;
    // As read, for a read the caller repeats sector by sector when it fails: a read
    // error is not asked about (the sectors are zeros) and nothing is counted.
    int32_t tryRead(uint64_t start, uint32_t count, void* buffer) const;

    // The size in sectors (an image's last partial sector counts), or nothing
    // when the source cannot be opened.
    std::optional<uint64_t> sectorCount() const;
    // Why the source cannot be read, as the message to show with what would give
    // access; empty when it opens. shown names a device as the user saw it.
    std::string openProblem(const std::string& shown) const;

    const SourceSpec& spec() const { return spec_; }
    uint64_t guardEnd() const { return guardEnd_; }

private:
    SourceSpec spec_;
    uint64_t guardEnd_;
};

SectorReader openSource(const SourceSpec& spec, uint64_t guardEnd = 0);
// The session's source, guarded by its range end.
SectorReader openSessionSource();

// The session's source with devicePath in place of a device's path, read as
// SectorReader::read does.
int32_t readSectors(uint64_t start, uint32_t count, void* buffer, const std::string& devicePath);

// As readSectors, as SectorReader::tryRead reads.
int32_t tryReadSectors(uint64_t start, uint32_t count, void* buffer, const std::string& devicePath);

// Sectors zero-filled so far in this process because the source could not deliver
// them (read errors answered with skip, missing image pieces, a device that cannot
// be opened), each sector once however often it was met. Sectors past the end of
// an image are not counted.
uint64_t unreadableSectors();
// Sectors this thread zero-filled so far, a sector met twice counted twice: the
// loss of one copy or one image run.
uint64_t sectorsZeroedOnThisThread();

// A run of sectors the reader zeroed because the source could not deliver them.
struct UnreadableRun {
    uint64_t first = 0;
    uint64_t count = 0;
};
// Where the list of zeroed runs stands now; a run's report takes the runs after it.
size_t unreadableMark();
std::vector<UnreadableRun> unreadableRunsSince(size_t mark);
// True when a sector of [first, first + count) was zeroed since the source was chosen.
bool holdsUnreadable(uint64_t first, uint64_t count);
// "45, 90-99" for the activity log: in order, each sector once.
std::string unreadableRunsText(std::vector<UnreadableRun> runs);
// "<done>; 1 sector could not be read and is zeros in <where>." for a final message.
std::string zeroedSectorsText(const std::string& done, uint64_t zeroed, const std::string& where);

// Forgets the cached source handles, so an image written or replaced since is
// read anew; a run opens its source once and reads through that handle.
void forgetSourceHandles();
// As forgetSourceHandles, and forgets the zeroed runs (tests; a new source chosen).
void closeDeviceHandle();

}  // namespace kestrum
