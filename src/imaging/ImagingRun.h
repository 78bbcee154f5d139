// The imaging engine: copies a sector range of the source into "Image0.img", or
// into 650 MiB pieces Image0.img, Image1.img, ..., and says how the run ended. The
// image-creation page and the command-line tool only check, start, poll and report.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/Guarded.h"
#include "app/PauseGate.h"
#include "app/Prompter.h"
#include "app/WorkerSlot.h"

namespace kestrum {
namespace platform {
class OutputFile;
}

// The running imaging worker, empty when none runs.
WorkerSlot& imagingThread();
// Set by a confirmed Stop; the worker ends after the chunk it is writing.
extern std::atomic<uint8_t> imagingStopRequested;
// The Multifile box as it was at Start.
extern std::atomic<uint8_t> imagingMultiFile;

// folder + "Image<k>.img".
std::string imagePiecePath(const std::string& folder, uint64_t piece);

// A run starts only when the free bytes exceed the needed bytes (strictly).
bool freeSpaceSuffices(uint64_t freeBytes, uint64_t neededBytes);

enum class ImagingOutcome {
    Running,    // not started or not yet ended
    Completed,  // every sector of the range is in the image
    Aborted,    // stopped by the user
    Failed,     // a piece could not be created or written; failureReason says why
};

// The activity log's closing lines for a run that ended so: the outcome, and
// for a failure its reason first.
void appendOutcomeLines(std::vector<std::string>& lines, ImagingOutcome outcome,
                        const std::string& failureReason);

class ImagingRun {
public:
    // The range to copy: [startSector, endSector).
    ImagingRun(uint64_t startSector, uint64_t endSector);
    // The session's range.
    ImagingRun();
    ImagingRun(const ImagingRun&) = delete;
    ImagingRun& operator=(const ImagingRun&) = delete;

    const uint64_t startSector;
    const uint64_t endSector;

    // Written by the worker after each chunk, read by the page's timer.
    std::atomic<uint64_t> currentSector;
    Guarded<std::string> lastFileName;
    Guarded<std::string> failureReason;  // "Could not write <file>: <reason>"
    // Sectors written as zeros because the source could not deliver them.
    std::atomic<uint64_t> zeroedSectors{0};

    // Held by the page while it asks whether to stop; the worker waits here
    // between chunks.
    PauseGate pauseGate;

    // Why folder cannot take the image, as the message to show, or empty: the
    // folder is missing, the source cannot be opened, the folder is on the source
    // disk or would overwrite the source image, or the free space does not exceed
    // the range's bytes.
    std::string checkStart(const std::string& folder) const;

    // Sets the destination, imagingMultiFile and clears imagingStopRequested.
    void prepare(const std::string& folder, bool multiFile);
    // prepare(), then the worker on imagingThread(). False when an imaging run is
    // already going. Call checkStart first. The run must outlive the worker.
    bool start(const std::string& folder, bool multiFile);
    // The worker body; runs on the calling thread. 1 after a full copy, else 0.
    int work();

    // The Stop button: holds the worker between chunks, asks confirm(), and on
    // yes requests the stop. False (without asking) when no worker runs.
    bool stop(const std::function<bool()>& confirm);
    bool working() const { return working_.load(); }

    const std::string& destinationPath() const { return destinationPath_; }  // folder + "Image.img"
    ImagingOutcome outcome() const { return outcome_.load(); }

    std::string currentSectorText() const;  // "<current> / <end>"
    int progressPercent() const;

    // The closing message and its icon, chosen from the outcome.
    std::string finalMessage() const;
    MessageIcon finalIcon() const;
    // The imaging block of the activity log, one append per line.
    std::vector<std::string> activityLogLines() const;
    void appendActivityLog() const;

private:
    // Closes the open piece, if any (a failed close fails the run), and settles the outcome.
    int finish(ImagingOutcome outcome, platform::OutputFile* piece);

    std::string folder_;
    std::string destinationPath_;
    std::atomic<ImagingOutcome> outcome_{ImagingOutcome::Running};
    std::atomic<bool> working_{false};
    size_t unreadableMark_ = 0;  // the zeroed runs before this run
};

}  // namespace kestrum
