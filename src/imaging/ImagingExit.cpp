#include "imaging/ImagingExit.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "app/Log.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "imaging/ImagingRun.h"
#include "imaging/RescueRun.h"

namespace kestrum {
namespace {

std::atomic<ImagingRun*> shownRun{nullptr};
std::atomic<RescueRun*> shownRescue{nullptr};
constexpr auto kStopWait = std::chrono::seconds(5);

template <class Run>
void waitForStop(const Run& run) {
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (run.working() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

void setShownImagingRun(ImagingRun* run) {
    shownRun.store(run);
}

void setShownRescueRun(RescueRun* run) {
    shownRescue.store(run);
}

std::vector<std::string> imagingExitLines(const ImagingRun& run) {
    const uint64_t copied = run.currentSector.load() - run.startSector;
    return {"\r\nAnalysing Disk Imaging Information :",
            "Current Sector : " + run.currentSectorText(), "Last File : " + run.lastFileName.load(),
            "Sectors Copied : " + std::to_string(copied), "Disk Imaging Interrupted (Exit)\r\n"};
}

std::vector<std::string> rescueExitLines(const RescueRun& run) {
    std::vector<std::string> lines = run.activityLogLines();
    // Its own closing line says how the run ended; leaving the program is why.
    if (!lines.empty()) lines.pop_back();
    lines.push_back("Disk Imaging Interrupted (Exit)\r\n");
    return lines;
}

void recordImagingExit() {
    if (RescueRun* rescue = shownRescue.load(); rescue && rescue->working()) {
        // The stop saves the map, so a later run goes on from here.
        rescue->requestStop();
        rescue->pauseGate.resume();
        waitForStop(*rescue);
        appendLines(LogKind::Activity, rescueExitLines(*rescue));
        return;
    }
    ImagingRun* run = shownRun.load();
    if (!run || !run->working()) return;
    // Nobody is there to answer: the front end is about to go.
    session().badSectorAnswer.store(BadSectorAnswer::SkipAll);
    imagingStopRequested.store(1);
    run->pauseGate.resume();
    waitForStop(*run);
    appendLines(LogKind::Activity, imagingExitLines(*run));
}

}  // namespace kestrum
