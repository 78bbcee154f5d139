// The scan loop. Detectors work in place on the batch as the reader delivers it.
#include "scan/ScanLoop.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "filetypes/Catalogue.h"
#include "scan/BatchReader.h"
#include "scan/DamageMark.h"

namespace kestrum {
namespace {

constexpr int32_t kThumbnailEvery = 11;
// A walk may measure a broken picture up to its ceiling; copying a gigabyte for a
// thumbnail would stall the scan, so such files get none.
constexpr uint64_t kThumbnailMaxBytes = 64 << 20;

void recordCheckpoint(const ScanJob& job, ScanCheckpoint point, bool finished, bool stopping) {
    if (!job.checkpoint) return;
    if (finished) point = {job.rangeEnd, job.rangeEnd, 0};
    point.finished = finished;
    point.stopping = stopping;
    job.checkpoint(point);
}

}  // namespace

void FoundFileListing::list(stExtInfo& record, FileInfo f, int32_t number, bool thumbnail) {
    if (number == 0) number = takeFoundNumber(record);
    std::snprintf(f.extName, sizeof f.extName, "%.4s", record.extName);
    std::snprintf(f.fileName, sizeof f.fileName, "File%d.%.4s", number, record.extName);
    f.checked = 0;
    if (markUnreadable_) f.damaged = overUnreadableSectors(f);
    job_.found.append(f);
    if (thumbnail && number % kThumbnailEvery == 1 && takesThumbnail(f.extName) && job_.thumbnail &&
        fileBytes(f) <= kThumbnailMaxBytes)
        job_.thumbnail(f);
}

int runScan(const ScanJob& job, ScanDetector& detector) {
    ResultsPage& page = job.page;
    const uint64_t rangeEnd = job.rangeEnd;
    page.scanEnd.store(rangeEnd);
    BatchReader reader(job.source, rangeEnd);
    ScanBatch batch = detector.firstBatch();
    while (batch.start < rangeEnd) {
        batch.sectors = std::min(batch.sectors, rangeEnd - batch.start);
        const uint8_t* data = reader.read(batch.start, static_cast<uint32_t>(batch.sectors));
        const SectorView bytes(data, batch.sectors * kSectorBytes, batch.start);
        if (const std::optional<ScanBatch> again = detector.look(bytes, batch.from)) {
            batch = *again;
            continue;
        }
        // The stop request and the page's pause gate are looked at only here.
        page.pauseGate.pass();
        const bool stopping = job.stopRequested.load() != 0;
        const ScanBatch next = detector.nextBatch();
        if (stopping || next.start < rangeEnd)
            recordCheckpoint(job, detector.resumePoint(), false, stopping);
        if (stopping) {
            detector.finish();
            page.selectFirstTypeOnStop();
            return 0;
        }
        batch = next;
    }
    detector.finish();
    page.scanPosition.store(page.scanEnd.load());
    recordCheckpoint(job, {}, true, false);
    return 0;
}

}  // namespace kestrum
