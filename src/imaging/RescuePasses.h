// The rescue passes over the map: copying (three passes, skipping past failed
// and slow areas), trimming, scraping and retries, with the map saved every few
// seconds and at each pass's end. Every byte the map calls rescued is durably
// in the image first: the pieces are flushed before each map save.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "disk/SectorReader.h"
#include "imaging/PieceWriter.h"
#include "imaging/RescueMap.h"
#include "imaging/RescueRun.h"

namespace kestrum {
namespace platform {
class SourceFile;
}

constexpr int kRescueCopyPasses = 3;

// One run of the passes over the map.
class RescuePasses {
public:
    explicit RescuePasses(RescueRun& run)
        : run_(run),
          s_(run.settings_),
          from_(s_.startSector * kSectorSize),
          to_(s_.endSector * kSectorSize),
          started_(std::time(nullptr)) {}

    ImagingOutcome run();

private:
    enum class Step { Go, Stop, Fail };

    bool setUp();
    // Between reads: the pause gate, the stop request and the periodic save.
    Step between();
    bool save();
    // Updates the figures the page shows; at most ten times a second unless forced
    // (counting runs over the whole map).
    void publish(bool force = false);
    void setPhase(RescuePhase p, char status, int pass) {
        run_.phase.store(p);
        run_.passNumber.store(pass);
        map_.currentStatus = status;
        map_.currentPass = pass;
    }
    // Reads [pos, pos + size) whole; true when it was delivered.
    bool readRun(const platform::SourceFile& from, uint64_t pos, uint64_t size);
    // Stores the buffer's bytes at pos and marks them rescued.
    bool keep(uint64_t pos, uint64_t size);
    // A read at pos through the unbuffered handle, kept when it succeeds.
    Step tryRead(uint64_t pos, uint64_t size, bool& ok);
    // tryRead of one sector, marked bad when it fails.
    Step oneSector(uint64_t pos, uint64_t size, bool& ok);
    // Closes in on [a, b) from one side up to its first bad sector (marked bad).
    Step trimEdge(uint64_t& a, uint64_t& b, bool forward);

    Step copyPass(int pass, bool forward, bool skipping);
    Step trimPass();
    Step scrapePass();
    Step retryPass(int pass, bool forward);
    bool zeroUnreadable();

    RescueRun& run_;
    const RescueSettings& s_;
    const uint64_t from_, to_;
    RescueMap map_;
    std::optional<PieceWriter> pieces_;  // made by setUp, fresh or kept
    std::shared_ptr<platform::SourceFile> source_, sectorSource_;
    std::vector<uint8_t> buffer_;
    std::time_t started_;
    std::chrono::steady_clock::time_point lastSave_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastPublish_{};
    bool failed_ = false;
    bool shrunk_ = false;  // failed_ by a short read: the map is still true to the image
    // Where the map said an earlier run stopped, for the retry pass to go on there.
    char resumedStatus_ = rescue::kNonTried;
    int resumedPass_ = 0;
    uint64_t resumedPos_ = 0;
    // The figures of the map as last saved, told when a later save fails.
    uint64_t savedRescued_ = 0, savedBad_ = 0, savedNonTried_ = 0;
    // The rate of good copying reads, to tell slow areas apart.
    double goodBytes_ = 0, goodSeconds_ = 0;
    int goodReads_ = 0;
};

}  // namespace kestrum
