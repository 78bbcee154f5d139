// The scan worker: reads the range in batches of 1000 sectors, classifies every
// sector, keeps at most one file open, settles it by its extent rule, a new
// header or its span limit, and lists each settled file under "File%d.%s".
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "scan/FileInfo.h"
#include "scan/FoundFileList.h"
#include "scan/ResultsPage.h"
#include "scan/SectorSource.h"
#include "scan/TypeRecord.h"

namespace kestrum {

inline constexpr uint32_t kBatchSectors = 1000;

// Copies a settled picture for the results page's live thumbnail.
using ThumbnailFn = std::function<int(FileInfo)>;

// Everything one scan works on. The application's scan takes it from the session;
// tests and the fuzz target bring their own lists and an in-memory source.
struct ScanJob {
    TypeList& types;
    FoundFileList& found;
    SectorSource& source;
    uint64_t rangeStart;
    uint64_t rangeEnd;  // exclusive
    const std::atomic<uint8_t>& stopRequested;
    ResultsPage& page;
    ThumbnailFn thumbnail;  // may be empty
};

// Runs the whole scan on the calling thread and returns 0. The stop request and
// the page's pause gate are looked at only between batches.
int ScanThreadProc(const ScanJob& job);

// Starts a scan of the session's range and types on session().scanThread: clears
// scanStopRequested and sets resultsPage first. Reads through source, which must
// outlive the scan. False when a scan is already running.
bool startScan(ResultsPage& page, SectorSource& source, ThumbnailFn thumbnail);

// The application's scan: reads through the sector reader, thumbnails through
// ExtractThumbnail.
bool startScan(ResultsPage& page);

// What a front end shows while the session's scan runs.
struct ScanProgress {
    bool running = false;
    uint64_t position = 0;  // the sector reached
    uint64_t end = 0;
    size_t filesFound = 0;
    uint32_t percent = 0;  // of the range, counted from its start
};
ScanProgress scanProgress(const ResultsPage& page);

}  // namespace kestrum
