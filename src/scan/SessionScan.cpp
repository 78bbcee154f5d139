// The application's scan: the session's source through the sector reader, and the
// results page's live thumbnail through the preview copy.
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "preview/PreviewCopy.h"
#include "scan/ScanDriver.h"

namespace kestrum {
namespace {

class ReaderSource final : public SectorSource {
public:
    int32_t read(uint64_t start, uint32_t count, uint8_t* buffer) override {
        return openSessionSource().read(start, count, buffer);
    }
    int32_t tryRead(uint64_t start, uint32_t count, uint8_t* buffer) override {
        return openSessionSource().tryRead(start, count, buffer);
    }
    uint64_t guardEnd() const override { return session().rangeEnd.load(); }
    // The reader keeps its handles and its counts under locks.
    bool takesReadsFromTwoThreads() const override { return true; }
};

}  // namespace

SectorSource& sessionSectorSource() {
    static ReaderSource source;
    return source;
}

bool startScan(ResultsPage& page, ScanHooks hooks) {
    // Opened afresh once for the run, so an image replaced since is read anew.
    forgetSourceHandles();
    return startScan(page, sessionSectorSource(), ExtractThumbnail, std::move(hooks));
}

}  // namespace kestrum
