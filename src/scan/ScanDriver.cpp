// Starting the session's scan with the detector its mode asks for, and what a
// front end shows of it.
#include "scan/ScanDriver.h"

#include <algorithm>

#include "app/Log.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "scan/ClassicDetector.h"
#include "scan/ThoroughDetector.h"

namespace kestrum {

bool startScan(ResultsPage& page, SectorSource& source, ThumbnailFn thumbnail, ScanHooks hooks) {
    Session& s = session();
    if (s.scanThread.running()) return false;
    s.scanStopRequested.store(0);
    s.resultsPage.store(&page);
    page.unreadableMark.store(unreadableMark());
    const ScanJob job{s.fileTypes,
                      s.foundFiles,
                      source,
                      s.rangeStart.load(),
                      s.rangeEnd.load(),
                      s.scanStopRequested,
                      page,
                      std::move(thumbnail),
                      std::move(hooks.resume),
                      std::move(hooks.checkpoint)};
    if (s.thoroughMode.load()) {
        appendLog(LogKind::Activity, "Detection Mode : Thorough");
        return s.scanThread.start([job] { runThoroughScan(job); });
    }
    return s.scanThread.start([job] { runClassicScan(job); });
}

ScanProgress scanProgress(const ResultsPage& page) {
    const Session& s = session();
    ScanProgress p;
    p.running = s.scanThread.running();
    p.position = page.scanPosition.load();
    p.end = page.scanEnd.load();
    p.filesFound = s.foundFiles.size();
    const uint64_t start = s.rangeStart.load();
    if (p.end > start && p.position >= start)
        p.percent = static_cast<uint32_t>(
            std::min<uint64_t>(100, (p.position - start) * 100 / (p.end - start)));
    return p;
}

std::vector<std::string> scanEndReport(const ResultsPage& page, size_t filesFound,
                                       std::time_t started, std::time_t ended, bool aborted) {
    std::vector<std::string> lines = scanReport(page.scanPosition.load(), page.scanEnd.load(),
                                                filesFound, started, ended, aborted);
    if (const std::string runs = unreadableRunsText(unreadableRunsSince(page.unreadableMark));
        !runs.empty())
        lines.insert(lines.end() - 1, "Unreadable Sectors (zeros) : " + runs);
    return lines;
}

}  // namespace kestrum
