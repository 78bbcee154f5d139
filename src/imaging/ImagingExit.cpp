#include "imaging/ImagingExit.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "app/Log.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "imaging/ImagingRun.h"

namespace kestrum {
namespace {

std::atomic<ImagingRun*> shownRun{nullptr};
constexpr auto kStopWait = std::chrono::seconds(5);

}  // namespace

void setShownImagingRun(ImagingRun* run) {
    shownRun.store(run);
}

std::vector<std::string> imagingExitLines(const ImagingRun& run) {
    const uint64_t copied = run.currentSector.load() - run.startSector;
    return {"\r\nAnalysing Disk Imaging Information :",
            "Current Sector : " + run.currentSectorText(), "Last File : " + run.lastFileName.load(),
            "Sectors Copied : " + std::to_string(copied), "Disk Imaging Interrupted (Exit)\r\n"};
}

void recordImagingExit() {
    ImagingRun* run = shownRun.load();
    if (!run || !run->working()) return;
    // Nobody is there to answer: the front end is about to go.
    session().badSectorAnswer.store(BadSectorAnswer::SkipAll);
    imagingStopRequested.store(1);
    run->pauseGate.resume();
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (run->working() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    appendLines(LogKind::Activity, imagingExitLines(*run));
}

}  // namespace kestrum
