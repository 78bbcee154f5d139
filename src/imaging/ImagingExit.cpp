#include "imaging/ImagingExit.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "app/Log.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "imaging/ImagingJob.h"

namespace kestrum {
namespace {

std::atomic<ImagingJob*> shownJob{nullptr};
constexpr auto kStopWait = std::chrono::seconds(5);

}  // namespace

void setShownImagingJob(ImagingJob* job) {
    shownJob.store(job);
}

void recordImagingExit() {
    ImagingJob* job = shownJob.load();
    if (!job || !job->working()) return;
    // Nobody is there to answer: the front end is about to go.
    session().badSectorAnswer.store(BadSectorAnswer::SkipAll);
    job->requestStop();
    job->pauseGate.resume();
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (job->working() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    appendLines(LogKind::Activity, job->exitLines());
}

}  // namespace kestrum
