// The one scan loop and the two things it is built from: a detector, which decides
// where files start and end, and the listing, which numbers what the detector
// found, lists it and takes the live thumbnails. The loop itself reads the range
// in batches, records checkpoints and honours the pause gate and stop requests.
#pragma once

#include <cstdint>
#include <optional>

#include "disk/SectorView.h"
#include "filetypes/TypeRecord.h"
#include "scan/FileInfo.h"
#include "scan/ScanDriver.h"

namespace kestrum {

// Where a detector's files go: "File<n>.<type>" in the found list, and every
// eleventh picture of a type to the results page's thumbnail.
class FoundFileListing {
public:
    // markUnreadable: files over sectors the reader gave as zeros are marked
    // damaged.
    FoundFileListing(const ScanJob& job, bool markUnreadable)
        : job_(job), markUnreadable_(markUnreadable) {}

    // Lists f (its sectors, length, pieces and partial mark set) as a file of
    // record's type. number 0 counts it in here; a rule that already counted it
    // passes its number. thumbnail false: the file is never the page's thumbnail.
    void list(stExtInfo& record, FileInfo f, int32_t number = 0, bool thumbnail = true);

    // The sector the scan has reached, for the page's progress.
    void reached(uint64_t sector) {
        job_.page.scanPosition.store(sector, std::memory_order_relaxed);
    }

private:
    const ScanJob& job_;
    bool markUnreadable_;
};

// A batch of the range: sectors [start, start + sectors), looked at from sector
// start + from on. The loop shortens it at the range's end.
struct ScanBatch {
    uint64_t start = 0;
    uint64_t sectors = kBatchSectors;
    uint64_t from = 0;
};

// A way of finding files in the batches the loop reads.
class ScanDetector {
public:
    virtual ~ScanDetector() = default;

    // The first batch: at the range's start, or where the job's resume point says.
    virtual ScanBatch firstBatch() = 0;

    // Looks through the batch just read, from sector `from` of it on, and lists
    // what it settles. Nullopt when done with it; else the batch to read and look
    // through instead (a candidate given up: the sectors after its header again).
    virtual std::optional<ScanBatch> look(const SectorView& batch, uint64_t from) = 0;

    // The batch after the one last looked through.
    virtual ScanBatch nextBatch() const = 0;

    // Where a run resumed now would go on (resumeSector and the batch layout)
    // so that it finds what this one will.
    virtual ScanCheckpoint resumePoint() const = 0;

    // Lists what the detector holds back; called at a stop and at the range's end.
    virtual void finish() {}
};

// Runs the job's scan with detector on the calling thread and returns 0.
int runScan(const ScanJob& job, ScanDetector& detector);

}  // namespace kestrum
