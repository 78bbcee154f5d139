#include "imaging/ImagingJob.h"

#include "app/Log.h"

namespace kestrum {

WorkerSlot& imagingThread() {
    static WorkerSlot slot;
    return slot;
}

void appendOutcomeLines(std::vector<std::string>& lines, ImagingOutcome outcome,
                        const std::string& failureReason) {
    switch (outcome) {
        case ImagingOutcome::Completed:
            lines.push_back("Disk Imaging Completed Successfully\r\n");
            break;
        case ImagingOutcome::Aborted:
            lines.push_back("Disk Imaging Aborted\r\n");
            break;
        case ImagingOutcome::Failed:
        case ImagingOutcome::Running:
            lines.push_back("Reason : " + failureReason);
            lines.push_back("Disk Imaging Failed\r\n");
            break;
    }
}

bool ImagingJob::stop(const std::function<bool()>& confirm) {
    if (!working()) return false;
    pauseGate.pause();
    const bool yes = confirm();
    if (yes) requestStop();
    pauseGate.resume();
    return yes;
}

std::string ImagingJob::finalMessage() const {
    switch (outcome()) {
        case ImagingOutcome::Completed:
            return completedMessage();
        case ImagingOutcome::Aborted:
            return abortedMessage();
        case ImagingOutcome::Failed:
            return "Image creation failed. " + failureReason.load() + ".";
        case ImagingOutcome::Running:
            break;
    }
    return "Process is running.";
}

MessageIcon ImagingJob::finalIcon() const {
    switch (outcome()) {
        case ImagingOutcome::Completed:
            return lostData() ? MessageIcon::Exclamation : MessageIcon::Information;
        case ImagingOutcome::Running:
            return MessageIcon::Exclamation;
        default:
            return MessageIcon::Error;
    }
}

void ImagingJob::appendActivityLog() const {
    for (const std::string& line : activityLogLines()) appendLog(LogKind::Activity, line);
}

}  // namespace kestrum
