// What the image-creation page, the command-line tool and Exit see of an imaging
// job, a plain copy or a rescue alike: the start checks, the worker, Stop, the
// progress lines and how the job ended.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/Guarded.h"
#include "app/PauseGate.h"
#include "app/Prompter.h"
#include "app/WorkerSlot.h"
#include "disk/ImageLayout.h"

namespace kestrum {

// The running imaging worker, empty when none runs.
WorkerSlot& imagingThread();

enum class ImagingOutcome {
    Running,    // not started or not yet ended
    Completed,  // every sector of the range is in the image
    Aborted,    // stopped by the user
    Failed,     // a piece could not be created or written; failureReason says why
};

// The activity log's closing lines for a job that ended so: the outcome, and
// for a failure its reason first.
void appendOutcomeLines(std::vector<std::string>& lines, ImagingOutcome outcome,
                        const std::string& failureReason);

class ImagingJob {
public:
    // A progress line of the page: its label and its value.
    struct StatusLine {
        std::string label;
        std::string value;
    };

    virtual ~ImagingJob() = default;

    // The message to show when the job cannot start, else empty.
    virtual std::string checkStart() const = 0;
    // The image as the job writes it, for the question before one is replaced.
    virtual ImageLayout imageLayout() const = 0;
    // True when starting makes a new image in place of what the folder holds
    // (false for a job that goes on from the image there).
    virtual bool replacesImage() const = 0;
    // Runs the job on imagingThread(). False when an imaging job already runs.
    // The job must outlive its worker.
    virtual bool start() = 0;
    // Holds the worker at its next boundary, asks confirm(), and on yes requests
    // the stop. False (without asking) when no worker runs.
    bool stop(const std::function<bool()>& confirm);
    // Requests the stop without asking: nobody is there to answer.
    virtual void requestStop() = 0;
    virtual bool working() const = 0;
    virtual ImagingOutcome outcome() const = 0;

    virtual int progressPercent() const = 0;
    // The page's two progress lines.
    virtual std::vector<StatusLine> statusLines() const = 0;
    // What the page shows beside its bar.
    virtual std::string rateText() const = 0;
    // The terminal's live line, redrawn in place.
    virtual std::string terminalLine() const = 0;

    // The closing message and its icon, chosen from the outcome.
    std::string finalMessage() const;
    MessageIcon finalIcon() const;
    // What the command-line tool prints after the final message.
    virtual std::vector<std::string> summaryLines() const = 0;
    // The imaging block of the activity log, one append per line.
    virtual std::vector<std::string> activityLogLines() const = 0;
    void appendActivityLog() const;
    // The activity-log block of a job cut short by leaving the program.
    virtual std::vector<std::string> exitLines() const = 0;

    // Held while the user is asked whether to stop; the worker waits here
    // between units of work.
    PauseGate pauseGate;
    // Written by the worker: why it failed ("Could not write <file>: <reason>"),
    // and the image file it wrote last.
    Guarded<std::string> failureReason;
    Guarded<std::string> lastFileName;

protected:
    // True when sectors could not be read and are zeros in the image.
    virtual bool lostData() const = 0;
    // The closing message of a job that ran to its end.
    virtual std::string completedMessage() const = 0;
    virtual std::string abortedMessage() const { return "Image creation aborted."; }
};

}  // namespace kestrum
