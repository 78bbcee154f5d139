// The saving engine: copies the ticked found files into one sub-folder per type
// of a destination folder, asks what to do with files that already exist, and
// appends a report to the recovery log. The saving dialog and the command-line
// tool only start a run, poll it, and pick the closing message from its outcome.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Guarded.h"
#include "app/PauseGate.h"
#include "app/WorkerSlot.h"
#include "scan/FileInfo.h"

namespace kestrum {

namespace platform {
class FolderHandle;
}

// The running saving worker, empty when none runs.
WorkerSlot& saveThread();
// Set by a confirmed Stop; the worker leaves after the file it is working on.
extern std::atomic<uint8_t> saveStopRequested;
// The recovery log got its start-of-run header in this process.
extern std::atomic<uint8_t> recoveryLogStarted;

// Appends the start-of-run header to the recovery log, once per process.
void startRecoveryLog();

// What the page says before a run starts: "Select the valid path." for a folder
// that does not exist, the refusal for a folder on the source disk, the reason
// when no file can be made there, or the shortfall when the ticked files of the
// session's list do not fit; else empty.
std::string checkSavingDestination(const std::string& destinationPath);

// The room the ticked files of the session's list take when saved into
// destinationPath, in whole blocks of its volume; a file already there under its
// name with its size (an earlier run's) takes none.
uint64_t roomNeeded(const std::string& destinationPath);

// The name a newcomer takes beside a file of its name: "File1.JPEG" gives
// "File1 (2).JPEG" for copy 2.
std::string keptBothName(const std::string& fileName, int copy);

enum class SavingOutcome {
    NothingSelected,      // no ticked file
    Succeeded,            // every ticked file saved or kept at the user's choice, one written
    NothingWritten,       // every ticked file already existed and was kept
    CompletedWithErrors,  // ran to the end, but some files could not be written
    Aborted,              // left on a stop request
};

class SavingRun {
public:
    explicit SavingRun(std::string destination) : destinationPath(std::move(destination)) {}
    SavingRun(const SavingRun&) = delete;
    SavingRun& operator=(const SavingRun&) = delete;

    const std::string destinationPath;

    // Written by the worker, read by the page's timer.
    Guarded<std::string> currentFileName;
    Guarded<std::string> currentFolderName;
    std::atomic<int32_t> totalCount{0};
    std::atomic<int32_t> savedCount{0};   // written in full
    std::atomic<int32_t> keptCount{0};    // already there and kept at the user's choice
    std::atomic<int32_t> failedCount{0};  // could not be created or written in full
    std::atomic<uint8_t> replaceAll{0};
    std::atomic<uint8_t> skipAll{0};
    std::atomic<uint8_t> keepBothAll{0};
    std::atomic<uint8_t> aborted{0};
    std::atomic<int64_t> startTime{0};  // seconds since the epoch
    std::atomic<int64_t> endTime{0};
    Guarded<std::string> firstError;         // "Could not write <path>: <reason>"
    std::atomic<uint64_t> zeroedSectors{0};  // read as zeros: the source could not deliver them
    std::atomic<uint64_t> bytesCopied{0};    // for the progress line

    // Held by the page while it asks whether to stop; the worker waits here
    // between chunks and between files.
    PauseGate pauseGate;

    // Clears the counters, flags and stop request, records startTime and writes
    // the recovery log's header if this process has not yet.
    void prepare();
    // prepare(), then the worker on saveThread(). False when a saving run is
    // already going. The run must outlive the worker (saveThread() empty).
    bool start();
    // The worker body: saves every ticked file of the session's found-file list
    // in list order, then appends the report. Runs on the calling thread.
    void work();

    // Saves one record into its type's sub-folder. 1 when it was written in full,
    // kKept when a file of its name was there and kept at the user's choice (or
    // holds the same bytes, when both were to be kept), 0 when it could not be
    // created or a write fell short. The file is written under a temporary name and
    // takes its own only when complete: a name in the folder is always a whole file.
    static constexpr int kKept = 2;
    int copyFoundFile(const FileInfo& record);

    // The Stop button: holds the worker, asks confirm(), and on yes requests the
    // stop. False (without asking) when no worker runs.
    bool stop(const std::function<bool()>& confirm);
    bool working() const { return working_.load(); }

    std::string folderPathFor(const FileInfo& record) const;
    std::string filePathFor(const FileInfo& record) const;

    // The files dealt with (saved or kept) x 100 / totalCount, 0 when either is 0.
    int progressPercent() const;
    std::string countText() const;  // "2 / 3": written of ticked

    SavingOutcome outcome() const;
    // The closing message for the outcome ("File Saved Successfully.", ...).
    std::string finalMessage() const;
    // The report, one recovery-log append per line. Partial files (thorough
    // detection only) are named in it, each followed by " (partial)"; files
    // reassembled from two pieces by " (joined)".
    std::vector<std::string> reportLines() const;

private:
    enum class Placement { New, Replace, KeepBoth };
    // The user's choice for a file of this name already there; nullopt keeps it.
    std::optional<Placement> existingFileChoice(const std::string& fileName);
    int placeFinished(const platform::FolderHandle& folder, const std::string& part,
                      const std::string& name, Placement placement, const std::string& path);
    void noteError(const std::string& text);
    Guarded<std::vector<std::string>> markedSaved_;  // marked names, in saving order
    std::string savedName_;                          // the name the last file took (worker only)
    std::atomic<bool> working_{false};
    size_t unreadableMark_ = 0;  // the zeroed runs before this run
};

}  // namespace kestrum
