// A scan job and how the application starts one: the range is read in batches of
// 1000 sectors by the scan loop (ScanLoop.h), through the classic or the thorough
// detector, and every file found is listed under "File<n>.<type>".
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "disk/SectorSource.h"
#include "filetypes/TypeRecord.h"
#include "scan/FileInfo.h"
#include "scan/FoundFileList.h"
#include "scan/ResultsPage.h"

namespace kestrum {

inline constexpr uint32_t kBatchSectors = 1000;

// Copies a settled picture for the results page's live thumbnail.
using ThumbnailFn = std::function<int(FileInfo)>;

// A point a recorded scan can go on from, with the batch layout that makes the
// resumed run find exactly what the uninterrupted one would: scanning restarts at
// resumeSector inside the batch [batchStart, batchStart + batchSize). When a file
// is open, resumeSector is its header, re-examined from there.
struct ScanCheckpoint {
    uint64_t resumeSector = 0;
    uint64_t batchStart = 0;
    uint64_t batchSize = 0;
    bool finished = false;  // the range is done; nothing to go on with
    bool stopping = false;  // the last call before a stop: record it now
};

// Called on the scan thread at batch ends. At that moment the job's found list
// and its types' found counts and end markers are exactly what a run resumed at
// the checkpoint must start with (files settled after resumeSector are not yet
// in them).
using CheckpointFn = std::function<void(const ScanCheckpoint&)>;

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
    // A recorded scan: where to go on (found list and types restored by the
    // caller), and the hook that records it. Both may be empty.
    std::optional<ScanCheckpoint> resume = std::nullopt;
    CheckpointFn checkpoint = nullptr;
};

// The hooks of a recorded scan, handed through startScan into the job.
struct ScanHooks {
    std::optional<ScanCheckpoint> resume;
    CheckpointFn checkpoint;
};

// Starts a scan of the session's range and types on session().scanThread: clears
// scanStopRequested and sets resultsPage first. Reads through source, which must
// outlive the scan. False when a scan is already running.
bool startScan(ResultsPage& page, SectorSource& source, ThumbnailFn thumbnail,
               ScanHooks hooks = {});

// The application's scan: reads through the sector reader, thumbnails through
// ExtractThumbnail.
bool startScan(ResultsPage& page, ScanHooks hooks = {});

// The session's source through the sector reader, as the application's scan reads it.
SectorSource& sessionSectorSource();

// What a front end shows while the session's scan runs.
struct ScanProgress {
    bool running = false;
    uint64_t position = 0;  // the sector reached
    uint64_t end = 0;
    size_t filesFound = 0;
    uint32_t percent = 0;  // of the range, counted from its start
};
ScanProgress scanProgress(const ResultsPage& page);

// The activity log's end-of-scan block, with the sector runs the scan read as
// zeros when there were any.
std::vector<std::string> scanEndReport(const ResultsPage& page, size_t filesFound,
                                       std::time_t started, std::time_t ended, bool aborted);

}  // namespace kestrum
