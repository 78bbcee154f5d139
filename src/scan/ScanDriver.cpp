// The scan loop. One batch buffer for the whole scan; detection and the general
// extent rule work in place on it.
#include "scan/ScanDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/Log.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "carve/ThoroughScan.h"
#include "disk/SectorReader.h"
#include "filetypes/Catalogue.h"
#include "scan/Detection.h"
#include "scan/ExtentRules.h"
#include "scan/SectorView.h"

namespace kestrum {
namespace {

constexpr int32_t kThumbnailEvery = 11;

class Scan {
public:
    explicit Scan(const ScanJob& job)
        : job_(job), detector_(job.types), buffer_(size_t{kBatchSectors} * kSectorBytes) {}

    int run();

private:
    // Opens a file at header T; false for MKV, whose header sector is not asked
    // where the file ends.
    bool open(int32_t type, uint64_t T);
    // Counts the file in its type and lists it.
    void settle(int32_t type, const char* name, uint64_t sectorCount);
    FileInfo list(const char* name, int32_t number, uint64_t sectorCount);
    void read() {
        if (batchSize_ > 0)
            job_.source.read(batchStart_, static_cast<uint32_t>(batchSize_), buffer_.data());
    }
    // Returns true when the batch was given up to resume at resumeAt_.
    bool scanBatch();

    const ScanJob& job_;
    Detector detector_;
    std::vector<uint8_t> buffer_;
    uint64_t batchStart_ = 0;
    uint64_t batchSize_ = kBatchSectors;
    uint64_t resumeAt_ = 0;
    uint64_t firstInBatch_ = 0;  // a resumed run's first batch starts part-way

    // Calls the job's checkpoint hook with the point to go on from.
    void checkpoint(bool finished, bool stopping);

    int32_t openType_ = -1;
    uint64_t fileStart_ = 0;
    uint64_t fileBatchStart_ = 0, fileBatchSize_ = 0;  // the batch the header was in
    char openName_[6] = {};
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

bool Scan::open(int32_t type, uint64_t T) {
    fileStart_ = T;
    fileBatchStart_ = batchStart_;
    fileBatchSize_ = batchSize_;
    steps_ = 0;
    openType_ = type;
    markerSector_ = kUnknown;
    std::memcpy(openName_, lastName_, sizeof openName_);
    markerRun_ = followsMarkerRun(lastName_);
    if (std::strcmp(lastName_, "MKV") == 0) {
        steps_ = 1;
        return false;
    }
    return true;
}

void Scan::settle(int32_t type, const char* name, uint64_t sectorCount) {
    stExtInfo& record = job_.types[static_cast<size_t>(type)];
    const int32_t number = foundCountOf(record) + 1;
    setFoundCount(record, number);
    list(name, number, sectorCount);
}

FileInfo Scan::list(const char* name, int32_t number, uint64_t sectorCount) {
    FileInfo f;
    std::snprintf(f.extName, sizeof f.extName, "%s", name);
    std::snprintf(f.fileName, sizeof f.fileName, "File%d.%s", number, name);
    f.startSector = fileStart_;
    f.sectorCount = static_cast<uint32_t>(std::min<uint64_t>(sectorCount, UINT32_MAX));
    f.checked = 0;
    job_.found.append(f);
    return f;
}

bool Scan::scanBatch() {
    ResultsPage& page = job_.page;
    const SectorView batch(buffer_.data(), batchSize_ * kSectorBytes, batchStart_);
    markerSector_ = kUnknown;
    const uint64_t first = firstInBatch_;
    firstInBatch_ = 0;
    for (uint64_t j = first; j < batchSize_; ++j) {
        const uint64_t T = batchStart_ + j;
        const SectorView sector = batch.fromSector(j);
        int32_t d = detector_.detect(sector, lastName_, spanLimit_);
        if (openType_ == -1) {
            if (d == -1) {
                page.scanPosition.store(T, std::memory_order_relaxed);
                continue;
            }
            if (!open(d, T)) continue;
        } else if (d == -1) {
            d = openType_;
        } else {
            // A new header ends the open file; every sector before it belongs to it.
            settle(openType_, openName_, T - fileStart_);
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
            const FileInfo settled = list(lastName_, number, count);
            if (number % kThumbnailEvery == 1 && takesThumbnail(lastName_) && job_.thumbnail)
                job_.thumbnail(settled);
            openType_ = -1;
            page.scanPosition.store(T, std::memory_order_relaxed);
            continue;
        }
        if (result == kRejected) {
            openType_ = -1;
            resumeAt_ = fileStart_ + 1;
            return true;
        }
        if (static_cast<int64_t>(++steps_) >= spanLimit_) {
            // Cut at the type's maximum size, and look again at everything after
            // the header: files inside the cut one are still to be found.
            const int32_t maxBytes = job_.types[static_cast<size_t>(openType_)].maxSizeBytes;
            settle(openType_, lastName_,
                   static_cast<uint64_t>(std::max(maxBytes, 0)) / kSectorBytes);
            openType_ = -1;
            resumeAt_ = fileStart_ + 1;
            return true;
        }
        page.scanPosition.store(T, std::memory_order_relaxed);
    }
    return false;
}

void Scan::checkpoint(bool finished, bool stopping) {
    if (!job_.checkpoint) return;
    ScanCheckpoint point;
    point.finished = finished;
    point.stopping = stopping;
    if (finished) {
        point.resumeSector = point.batchStart = job_.rangeEnd;
    } else if (openType_ != -1) {
        point.resumeSector = fileStart_;
        point.batchStart = fileBatchStart_;
        point.batchSize = fileBatchSize_;
    } else {
        point.resumeSector = point.batchStart = batchStart_ + batchSize_;
        point.batchSize = std::min(batchSize_, job_.rangeEnd - point.batchStart);
    }
    job_.checkpoint(point);
}

int Scan::run() {
    ResultsPage& page = job_.page;
    const uint64_t rangeEnd = job_.rangeEnd;
    page.scanEnd.store(rangeEnd);
    batchStart_ = job_.rangeStart;
    if (job_.resume) {
        const ScanCheckpoint& at = *job_.resume;
        batchStart_ = at.finished ? rangeEnd : at.batchStart;
        batchSize_ = at.batchSize;
        firstInBatch_ = at.resumeSector - at.batchStart;
    }
    if (batchStart_ < rangeEnd) {
        batchSize_ = std::min(batchSize_, rangeEnd - batchStart_);
        read();
        for (;;) {
            if (scanBatch()) {
                // Once shrunk at the range's end, the batch stays that small.
                batchStart_ = resumeAt_;
                batchSize_ = std::min(batchSize_, rangeEnd - batchStart_);
                read();
                continue;
            }
            page.pauseGate.pass();
            const bool stopping = job_.stopRequested.load() != 0;
            if (stopping || batchStart_ + batchSize_ < rangeEnd) checkpoint(false, stopping);
            if (stopping) {
                page.selectFirstTypeOnStop();
                return 0;
            }
            batchStart_ += batchSize_;
            if (batchStart_ >= rangeEnd) break;
            batchSize_ = std::min(batchSize_, rangeEnd - batchStart_);
            read();
        }
    }
    // A file still open here runs past the range and is not listed.
    page.scanPosition.store(page.scanEnd.load());
    checkpoint(true, false);
    return 0;
}

}  // namespace

int ScanThreadProc(const ScanJob& job) {
    return Scan(job).run();
}

bool startScan(ResultsPage& page, SectorSource& source, ThumbnailFn thumbnail, ScanHooks hooks) {
    Session& s = session();
    if (s.scanThread.running()) return false;
    s.scanStopRequested.store(0);
    s.resultsPage.store(&page);
    page.unreadableMark.store(unreadableMark());
    const ScanJob job{s.fileTypes,
                      s.foundFiles,
                      source,
                      s.rangeStart.load(),
                      s.rangeEnd.load(),
                      s.scanStopRequested,
                      page,
                      std::move(thumbnail),
                      std::move(hooks.resume),
                      std::move(hooks.checkpoint)};
    if (s.thoroughMode.load()) {
        appendLog(LogKind::Activity, "Detection Mode : Thorough");
        return s.scanThread.start([job] { carve::ThoroughScanProc(job); });
    }
    return s.scanThread.start([job] { ScanThreadProc(job); });
}

ScanProgress scanProgress(const ResultsPage& page) {
    const Session& s = session();
    ScanProgress p;
    p.running = s.scanThread.running();
    p.position = page.scanPosition.load();
    p.end = page.scanEnd.load();
    p.filesFound = s.foundFiles.size();
    const uint64_t start = s.rangeStart.load();
    if (p.end > start && p.position >= start)
        p.percent = static_cast<uint32_t>(
            std::min<uint64_t>(100, (p.position - start) * 100 / (p.end - start)));
    return p;
}

std::vector<std::string> scanEndReport(const ResultsPage& page, size_t filesFound,
                                       std::time_t started, std::time_t ended, bool aborted) {
    std::vector<std::string> lines = scanReport(page.scanPosition.load(), page.scanEnd.load(),
                                                filesFound, started, ended, aborted);
    if (const std::string runs = unreadableRunsText(unreadableRunsSince(page.unreadableMark));
        !runs.empty())
        lines.insert(lines.end() - 1, "Unreadable Sectors (zeros) : " + runs);
    return lines;
}

}  // namespace kestrum
