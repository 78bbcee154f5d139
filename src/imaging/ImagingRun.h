// The imaging engine: copies a sector range of the source into "Image0.img", or
// into 650 MiB pieces Image0.img, Image1.img, ..., and says how the run ended. The
// image-creation page and the command-line tool only check, start, poll and report.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ProgressRate.h"
#include "imaging/ImagingJob.h"

namespace kestrum {

class PieceWriter;

// Set by a confirmed Stop; the worker ends after the chunk it is writing.
extern std::atomic<uint8_t> imagingStopRequested;

// A run starts only when the free bytes exceed the needed bytes (strictly).
bool freeSpaceSuffices(uint64_t freeBytes, uint64_t neededBytes);

class ImagingRun : public ImagingJob {
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
    // Sectors written as zeros because the source could not deliver them.
    std::atomic<uint64_t> zeroedSectors{0};

    // Where the image goes: folder, in pieces or as one file.
    void setDestination(const std::string& folder, bool multiFile);
    const std::string& destinationFolder() const { return folder_; }

    // Why folder cannot take the image, as the message to show, or empty: the
    // folder is missing, the source cannot be opened, the folder is on the source
    // disk or would overwrite the source image, or the free space does not exceed
    // the range's bytes.
    std::string checkStart(const std::string& folder) const;
    std::string checkStart() const override { return checkStart(folder_); }
    ImageLayout imageLayout() const override;
    bool replacesImage() const override { return true; }

    // Sets the destination and clears imagingStopRequested.
    void prepare(const std::string& folder, bool multiFile);
    // prepare(), then the worker on imagingThread(). False when an imaging run is
    // already going. Call checkStart first. The run must outlive the worker.
    bool start(const std::string& folder, bool multiFile);
    bool start() override { return start(folder_, multiFile_); }
    // The worker body; runs on the calling thread. 1 after a full copy, else 0.
    int work();

    void requestStop() override;
    bool working() const override { return working_.load(); }
    ImagingOutcome outcome() const override { return outcome_.load(); }

    std::string currentSectorText() const;  // "<current> / <end>"
    int progressPercent() const override;
    std::vector<StatusLine> statusLines() const override;
    std::string rateText() const override;
    std::string terminalLine() const override;
    std::vector<std::string> summaryLines() const override;
    std::vector<std::string> activityLogLines() const override;
    std::vector<std::string> exitLines() const override;

private:
    bool lostData() const override;
    std::string completedMessage() const override;
    // Closes the open pieces (a failed close fails the run) and settles the outcome.
    int finish(ImagingOutcome outcome, PieceWriter* pieces);

    std::string folder_;
    bool multiFile_ = false;
    std::optional<ProgressRate> rate_;  // from the last start
    std::atomic<ImagingOutcome> outcome_{ImagingOutcome::Running};
    std::atomic<bool> working_{false};
    size_t unreadableMark_ = 0;  // the zeroed runs before this run
};

}  // namespace kestrum
