// The classic detector. Detection and the general extent rule work in place on
// the loop's batch buffer.
#include "scan/ClassicDetector.h"

#include <algorithm>
#include <cstring>

#include "scan/Detection.h"
#include "scan/ExtentRules.h"
#include "scan/ScanLoop.h"

namespace kestrum {
namespace {

class ClassicDetector final : public ScanDetector {
public:
    ClassicDetector(const ScanJob& job, FoundFileListing& listing)
        : job_(job), listing_(listing), headers_(job.types) {}

    ScanBatch firstBatch() override {
        if (!job_.resume) return {job_.rangeStart, kBatchSectors, 0};
        const ScanCheckpoint& at = *job_.resume;
        if (at.finished) return {job_.rangeEnd, kBatchSectors, 0};
        return {at.batchStart, at.batchSize, at.resumeSector - at.batchStart};
    }
    std::optional<ScanBatch> look(const SectorView& batch, uint64_t from) override;
    ScanBatch nextBatch() const override { return {batchStart_ + batchSize_, batchSize_, 0}; }
    ScanCheckpoint resumePoint() const override;

private:
    // Opens a file at header T; false for MKV, whose header sector is not asked
    // where the file ends.
    bool open(int32_t type, uint64_t T);
    // Counts a file cut short (by a new header or its span limit) and lists it.
    void settle(int32_t type, uint64_t sectorCount, int32_t number = 0, bool thumbnail = false) {
        FileInfo f;
        f.startSector = fileStart_;
        f.sectorCount = static_cast<uint32_t>(std::min<uint64_t>(sectorCount, UINT32_MAX));
        listing_.list(job_.types[static_cast<size_t>(type)], f, number, thumbnail);
    }

    const ScanJob& job_;
    FoundFileListing& listing_;
    HeaderMatcher headers_;
    uint64_t batchStart_ = 0;
    uint64_t batchSize_ = 0;

    int32_t openType_ = -1;
    uint64_t fileStart_ = 0;
    uint64_t fileBatchStart_ = 0, fileBatchSize_ = 0;  // the batch the header was in
    bool markerRun_ = false;
    uint64_t steps_ = 0;
    // The sector of this batch where the open file's end marker next stands; the
    // sectors before it need no search of their own. kUnknown until looked for.
    static constexpr uint64_t kUnknown = UINT64_MAX;
    uint64_t markerSector_ = kUnknown;
    // What the last successful detection gave; kept across sectors without one.
    char lastName_[6] = {};
    int32_t spanLimit_ = 0;
};

bool ClassicDetector::open(int32_t type, uint64_t T) {
    fileStart_ = T;
    fileBatchStart_ = batchStart_;
    fileBatchSize_ = batchSize_;
    steps_ = 0;
    openType_ = type;
    markerSector_ = kUnknown;
    markerRun_ = followsMarkerRun(lastName_);
    if (std::strcmp(lastName_, "MKV") == 0) {
        steps_ = 1;
        return false;
    }
    return true;
}

std::optional<ScanBatch> ClassicDetector::look(const SectorView& batch, uint64_t from) {
    batchStart_ = batch.firstSector();
    batchSize_ = batch.size() / kSectorBytes;
    markerSector_ = kUnknown;
    for (uint64_t j = from; j < batchSize_; ++j) {
        const uint64_t T = batchStart_ + j;
        const SectorView sector = batch.fromSector(j);
        int32_t d = headers_.detect(sector, lastName_, spanLimit_);
        if (openType_ == -1) {
            if (d == -1) {
                listing_.reached(T);
                continue;
            }
            if (!open(d, T)) continue;
        } else if (d == -1) {
            d = openType_;
        } else {
            // A new header ends the open file; every sector before it belongs to it.
            settle(openType_, T - fileStart_);
            if (!open(d, T)) continue;
        }

        uint32_t count = 0;
        int32_t number = 0;
        const size_t type = static_cast<size_t>(d);
        int32_t result = kNoEndHere;
        if (markerRun_) {
            result = FollowMarkerRun(job_.types, type, sector, fileStart_, T, count, number,
                                     job_.source);
        } else {
            if (markerSector_ == kUnknown || markerSector_ < T)
                markerSector_ = nextMarkerSector(job_.types[type], sector);
            if (markerSector_ <= T)
                result = FindFileEnd(job_.types, type, sector, fileStart_, T, count, number);
        }
        if (result == kFileEnds) {
            // The rule counted the file in already.
            settle(d, count, number, true);
            openType_ = -1;
            listing_.reached(T);
            continue;
        }
        if (result == kRejected) {
            openType_ = -1;
            return ScanBatch{fileStart_ + 1, batchSize_, 0};
        }
        if (static_cast<int64_t>(++steps_) >= spanLimit_) {
            // Cut at the type's maximum size, and look again at everything after
            // the header: files inside the cut one are still to be found.
            const int32_t maxBytes = job_.types[static_cast<size_t>(openType_)].maxSizeBytes;
            settle(openType_, static_cast<uint64_t>(std::max(maxBytes, 0)) / kSectorBytes);
            openType_ = -1;
            return ScanBatch{fileStart_ + 1, batchSize_, 0};
        }
        listing_.reached(T);
    }
    return std::nullopt;
}

ScanCheckpoint ClassicDetector::resumePoint() const {
    ScanCheckpoint point;
    if (openType_ != -1) {
        point.resumeSector = fileStart_;
        point.batchStart = fileBatchStart_;
        point.batchSize = fileBatchSize_;
    } else {
        point.resumeSector = point.batchStart = batchStart_ + batchSize_;
        point.batchSize = std::min(batchSize_, job_.rangeEnd - point.batchStart);
    }
    return point;
}

}  // namespace

int runClassicScan(const ScanJob& job) {
    FoundFileListing listing(job, false);
    ClassicDetector detector(job, listing);
    return runScan(job, detector);
}

}  // namespace kestrum
