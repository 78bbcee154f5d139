// Rescue imaging for failing media: copies the readable areas first with large
// reads, then closes in on the failed ones (trim, scrape, retries), and keeps a
// ddrescue-format map beside the image so that a stopped or killed run resumes
// where it was. Nothing is asked while it runs; unreadable sectors stay zeros.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/ImagingJob.h"
#include "imaging/RescueMap.h"

namespace kestrum {

struct RescueSettings {
    uint64_t startSector = 0;
    uint64_t endSector = 0;  // exclusive
    std::string folder;
    bool multiFile = false;
    std::string mapPath;  // empty: "Image0.map" in folder
    int retryPasses = 0;
    std::chrono::milliseconds saveEvery{30000};
    std::string commandLine;  // recorded in the map's heading
};

enum class RescuePhase { Starting, Copying, Trimming, Scraping, Retrying, Finished };

// The file or device node that rescue mode reads for the session's source, or
// empty with the reason (an image in pieces is not one file).
std::string rescueSourcePath(std::string* why);

// "Image0.map" in folder.
std::string defaultMapPath(const std::string& folder);

// The disk or file the map's positions belong to, as the map records it.
std::string sourceIdentityText(const std::string& sourcePath, uint64_t sourceBytes);

class RescueRun : public ImagingJob {
public:
    explicit RescueRun(RescueSettings settings);
    ~RescueRun();
    RescueRun(const RescueRun&) = delete;
    RescueRun& operator=(const RescueRun&) = delete;

    const RescueSettings& settings() const { return settings_; }
    const std::string& mapPath() const { return mapPath_; }

    // The message to show when the run cannot start, else empty: the imaging
    // checks (folder, source, free space, not on the source), a source that is not
    // one file, a map that cannot be read, or a map that records rescued data
    // whose image piece is gone.
    std::string checkStart() const override;
    ImageLayout imageLayout() const override;
    // Without its map a rescue starts afresh; with it, it goes on from the image.
    bool replacesImage() const override;
    // Clears the stop request and runs work() on imagingThread(). False when an
    // imaging run is already going.
    bool start() override;
    // The worker body on the calling thread: 1 when every pass ran to its end.
    int work();
    void requestStop() override { stopRequested_.store(true); }
    bool working() const override { return working_.load(); }

    // Live figures for the page and the progress line, in bytes of the range.
    std::atomic<uint64_t> position{0};  // source byte being read
    std::atomic<uint64_t> bytesRescued{0};
    std::atomic<uint64_t> bytesBad{0};       // failed so far: not trimmed, not scraped, bad
    std::atomic<uint64_t> bytesNonTried{0};  // not read yet
    std::atomic<RescuePhase> phase{RescuePhase::Starting};
    std::atomic<int> passNumber{0};
    std::atomic<bool> resumed{false};  // a map was there at the start

    ImagingOutcome outcome() const override { return outcome_.load(); }
    uint64_t rangeBytes() const;
    // Share of the range that is rescued or given up as bad, 0..100.
    int progressPercent() const override;
    // "Copying (pass 1 of 3)", "Trimming", "Retrying (pass 2 of 3)", ...
    std::string phaseText() const;
    // "rescued 12 MiB, bad 4096 B" style summary of the figures.
    std::string figuresText() const;

    // How GNU ddrescue continues this image (its -i, -o and -s for a range that
    // is not the whole source), or why it cannot; empty when no options are needed.
    std::string ddrescueContinuation() const;
    std::vector<StatusLine> statusLines() const override;
    std::string rateText() const override;
    std::string terminalLine() const override;
    // The figures, the map and how GNU ddrescue would go on.
    std::vector<std::string> summaryLines() const override;
    std::vector<std::string> activityLogLines() const override;
    std::vector<std::string> exitLines() const override;

private:
    bool lostData() const override;
    std::string completedMessage() const override;
    std::string abortedMessage() const override;

    RescueSettings settings_;
    std::string mapPath_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> working_{false};
    std::atomic<ImagingOutcome> outcome_{ImagingOutcome::Running};
    friend class RescuePasses;
};

}  // namespace kestrum
