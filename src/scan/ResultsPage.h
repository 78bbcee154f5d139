// The engine side of the results page: the values the scan and the thumbnail
// copy write and the page's timers read. The desktop page derives from it; the
// command-line tool uses it as it is.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/Guarded.h"
#include "app/PauseGate.h"

namespace kestrum {

class ResultsPage {
public:
    virtual ~ResultsPage() = default;

    std::atomic<uint64_t> scanPosition{0};  // the sector the scan has reached
    std::atomic<uint64_t> scanEnd{0};       // rangeEnd, copied when the scan starts
    // The reader's unreadable-run mark when the scan started: the end report
    // lists only the runs this scan met.
    std::atomic<size_t> unreadableMark{0};

    // Scan-time thumbnail hand-over: the path is stored before the flag is raised;
    // a newer thumbnail replaces the file whole, so the page shows the latest.
    Guarded<std::string> tempPathBuffer;
    std::atomic<int32_t> previewReady{0};

    // Held by the page while it asks whether to stop; the scan waits at batch ends.
    PauseGate pauseGate;

    // Called on the scan thread when a stopped scan ends: the page selects the
    // first type node of its tree. Nothing to do without a window.
    virtual void selectFirstTypeOnStop() {}
};

}  // namespace kestrum
