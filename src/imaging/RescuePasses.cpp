#include "imaging/RescuePasses.h"

#include <algorithm>
#include <cstring>

#include "disk/SectorReader.h"
#include "imaging/RescueChecks.h"
#include "platform/DurableReplace.h"
#include "platform/SourceFile.h"
#include "saving/TextFormat.h"

namespace kestrum {
namespace {

using Clock = std::chrono::steady_clock;
using platform::SourceFile;

constexpr uint64_t kCluster = 1 << 20;      // bytes per copying read
constexpr uint64_t kSkipFirst = 1 << 16;    // first skip after a failed or slow read
constexpr uint64_t kSkipMost = 1ULL << 30;  // the skip grows at most to this

}  // namespace

bool RescuePasses::setUp() {
    std::string why;
    const std::string sourcePath = rescueSourcePath(&why);
    if (sourcePath.empty()) {
        run_.failureReason.store(why);
        return false;
    }
    std::string error;
    source_ = SourceFile::open(sourcePath, &error);
    if (!source_) {
        run_.failureReason.store("The source cannot be opened (" + sourcePath + ": " + error + ")");
        return false;
    }
    // Sector by sector through the cache a bad sector would fail its neighbours.
    sectorSource_ = SourceFile::open(sourcePath, nullptr, SourceFile::Caching::Unbuffered);
    if (!sectorSource_) sectorSource_ = source_;

    auto loaded = loadRescueMap(run_.mapPath_, &why);
    if (!loaded && !why.empty()) {
        run_.failureReason.store(why);
        return false;
    }
    run_.resumed.store(loaded.has_value());
    map_ = loaded ? std::move(*loaded) : RescueMap(0);
    const std::string identity = sourceIdentityText(sourcePath, source_->size());
    if (why = otherSource(map_, identity, run_.mapPath_); why.empty())
        why = foreignOrigin(map_, s_, run_.mapPath_);
    if (why.empty()) why = rescuedButNotHeld(map_, s_, run_.mapPath_);
    if (!why.empty()) {
        run_.failureReason.store(why);
        return false;
    }
    map_.extendTo(std::max(source_->size(), to_));
    if (!loaded) map_.currentPos = from_;
    resumedStatus_ = map_.currentStatus;
    resumedPass_ = map_.currentPass;
    resumedPos_ = map_.currentPos;
    map_.imageOrigin = originOf(s_);
    map_.sourceIdentity = identity;
    pieces_.emplace(ImageLayout(s_.folder, s_.multiFile, to_ - from_),
                    PieceWriter::Options{.fresh = !loaded, .openMost = 8, .durable = true});
    if (!pieces_->prepare(why)) {
        run_.failureReason.store(why);
        return false;
    }
    buffer_.resize(kCluster);
    publish(true);
    // The map exists from the start, so that a kill before the first save still
    // leaves a map that matches the fresh pieces.
    return save();
}

void RescuePasses::publish(bool force) {
    const auto now = Clock::now();
    if (!force && now - lastPublish_ < std::chrono::milliseconds(100)) return;
    lastPublish_ = now;
    run_.bytesRescued.store(map_.bytesWith(rescue::kFinished, from_, to_));
    run_.bytesNonTried.store(map_.bytesWith(rescue::kNonTried, from_, to_));
    run_.bytesBad.store(map_.bytesWith(rescue::kNonTrimmed, from_, to_) +
                        map_.bytesWith(rescue::kNonScraped, from_, to_) +
                        map_.bytesWith(rescue::kBadSector, from_, to_));
}

bool RescuePasses::save() {
    std::string why;
    if (!pieces_->syncAll(why)) {
        run_.failureReason.store(why);
        failed_ = true;
        return false;
    }
    std::string error;
    if (!platform::replaceDurably(
            run_.mapPath_, map_.format(s_.commandLine, started_, std::time(nullptr)), &error)) {
        run_.failureReason.store("Could not write the map " + error);
        failed_ = true;
        return false;
    }
    lastSave_ = Clock::now();
    savedRescued_ = map_.bytesWith(rescue::kFinished, from_, to_);
    savedNonTried_ = map_.bytesWith(rescue::kNonTried, from_, to_);
    savedBad_ = map_.bytesWith(rescue::kNonTrimmed, from_, to_) +
                map_.bytesWith(rescue::kNonScraped, from_, to_) +
                map_.bytesWith(rescue::kBadSector, from_, to_);
    return true;
}

RescuePasses::Step RescuePasses::between() {
    if (failed_) return Step::Fail;
    run_.pauseGate.pass();
    if (run_.stopRequested_.load()) return Step::Stop;
    if (Clock::now() - lastSave_ >= s_.saveEvery && !save()) return Step::Fail;
    return Step::Go;
}

bool RescuePasses::readRun(const SourceFile& from, uint64_t pos, uint64_t size) {
    run_.position.store(pos);
    const ssize_t got = from.readAt(pos, buffer_.data(), size);
    if (got < 0) return false;
    if (static_cast<uint64_t>(got) < size) {
        // The source ends before the range does: it became smaller (a card
        // pulled, a file cut). Nothing past its end is data, nor a bad sector.
        run_.failureReason.store(
            textf("The source ended at byte %llu, inside the range: it became smaller while it was "
                  "read. The map keeps what was rescued before",
                  static_cast<unsigned long long>(pos + got)));
        failed_ = shrunk_ = true;
        return false;
    }
    return true;
}

bool RescuePasses::keep(uint64_t pos, uint64_t size) {
    std::string why;
    if (!pieces_->write(pos - from_, buffer_.data(), size, why)) {
        run_.failureReason.store(why);
        failed_ = true;
        return false;
    }
    run_.lastFileName.store(pieces_->lastWritten());
    map_.mark(pos, size, rescue::kFinished);
    return true;
}

RescuePasses::Step RescuePasses::tryRead(uint64_t pos, uint64_t size, bool& ok) {
    if (const Step step = between(); step != Step::Go) return step;
    ok = readRun(*sectorSource_, pos, size);
    if (failed_ || (ok && !keep(pos, size))) return Step::Fail;
    map_.currentPos = pos;
    publish();
    return Step::Go;
}

RescuePasses::Step RescuePasses::oneSector(uint64_t pos, uint64_t size, bool& ok) {
    const Step step = tryRead(pos, size, ok);
    if (step == Step::Go && !ok) {
        map_.mark(pos, size, rescue::kBadSector);
        publish();
    }
    return step;
}

RescuePasses::Step RescuePasses::copyPass(int pass, bool forward, bool skipping) {
    const bool continuing = map_.currentStatus == rescue::kNonTried && map_.currentPass == pass &&
                            map_.currentPos >= from_ && map_.currentPos <= to_;
    setPhase(RescuePhase::Copying, rescue::kNonTried, pass);
    const uint64_t skipMost =
        std::max(kSkipFirst, std::min(kSkipMost, (to_ - from_) / 100 / kSectorSize * kSectorSize));
    uint64_t skip = kSkipFirst;
    // A resumed pass goes on from where it was; what it skipped is the next pass's.
    uint64_t cursor = continuing ? map_.currentPos : (forward ? from_ : to_);
    for (;;) {
        const auto block = forward ? map_.findForward(rescue::kNonTried, cursor, to_)
                                   : map_.findBackward(rescue::kNonTried, from_, cursor);
        if (!block) return Step::Go;
        if (const Step step = between(); step != Step::Go) return step;
        const uint64_t size = std::min(kCluster, block->size);
        const uint64_t pos = forward ? block->pos : block->end() - size;
        const auto began = Clock::now();
        const bool ok = readRun(*source_, pos, size);
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        bool slow = false;
        if (ok) {
            if (!keep(pos, size)) return Step::Fail;
            // Far below the usual rate: a weak area, better read after the rest.
            slow = goodReads_ >= 8 && seconds > 0.01 &&
                   size / seconds < goodBytes_ / goodSeconds_ / 10;
            if (!slow) goodBytes_ += size, goodSeconds_ += seconds, ++goodReads_;
        } else if (failed_) {
            return Step::Fail;
        } else {
            map_.mark(pos, size, rescue::kNonTrimmed);
        }
        cursor = forward ? pos + size : pos;
        if (skipping && (!ok || slow)) {
            cursor = forward ? std::min(to_, cursor + skip)
                             : (cursor - from_ > skip ? cursor - skip : from_);
            skip = std::min(skip * 2, skipMost);
        } else if (ok) {
            skip = kSkipFirst;
        }
        map_.currentPos = cursor;
        publish();
    }
}

RescuePasses::Step RescuePasses::trimEdge(uint64_t& a, uint64_t& b, bool forward) {
    // Steps shrink at each failure, so a good edge costs few reads and the bad
    // sector is still found exactly.
    constexpr uint64_t kSteps[] = {64 * 1024, 4096, kSectorSize};
    for (size_t level = 0; a < b;) {
        const uint64_t size = std::min(kSteps[level], b - a);
        const uint64_t pos = forward ? a : b - size;
        bool ok = false;
        if (const Step step = tryRead(pos, size, ok); step != Step::Go) return step;
        if (!ok && size > kSectorSize && level + 1 < std::size(kSteps)) {
            ++level;
            continue;
        }
        if (!ok) map_.mark(pos, size, rescue::kBadSector);
        (forward ? a += size : b -= size);
        if (!ok) return Step::Go;
    }
    return Step::Go;
}

RescuePasses::Step RescuePasses::trimPass() {
    setPhase(RescuePhase::Trimming, rescue::kNonTrimmed, 1);
    uint64_t cursor = from_;
    while (const auto block = map_.findForward(rescue::kNonTrimmed, cursor, to_)) {
        uint64_t a = block->pos, b = block->end();
        cursor = b;
        // Leading edge forwards, trailing edge backwards, each up to its first bad
        // sector; what lies between is left for scraping.
        if (const Step step = trimEdge(a, b, true); step != Step::Go) return step;
        if (const Step step = trimEdge(a, b, false); step != Step::Go) return step;
        if (a < b) map_.mark(a, b - a, rescue::kNonScraped);
    }
    return Step::Go;
}

RescuePasses::Step RescuePasses::scrapePass() {
    setPhase(RescuePhase::Scraping, rescue::kNonScraped, 1);
    uint64_t cursor = from_;
    while (const auto block = map_.findForward(rescue::kNonScraped, cursor, to_)) {
        // Sector by sector where reads fail; through readable stretches the step
        // doubles, and a failed larger read goes back to single sectors, so every
        // bad sector still fails one single-sector read and no larger one twice.
        uint64_t step = kSectorSize;
        for (uint64_t a = block->pos; a < block->end();) {
            const uint64_t size = std::min(step, block->end() - a);
            bool ok = false;
            if (size > kSectorSize) {
                if (const Step s = tryRead(a, size, ok); s != Step::Go) return s;
                if (!ok) {
                    step = kSectorSize;
                    continue;
                }
            } else if (const Step s = oneSector(a, size, ok); s != Step::Go) {
                return s;
            }
            a += size;
            step = ok ? std::min<uint64_t>(step * 2, 64 * 1024) : kSectorSize;
        }
        cursor = block->end();
    }
    return Step::Go;
}

RescuePasses::Step RescuePasses::retryPass(int pass, bool forward) {
    setPhase(RescuePhase::Retrying, rescue::kBadSector, pass);
    // A pass an earlier run stopped in goes on from its current position (the
    // next sector to read, as GNU ddrescue keeps it); a new one starts at its end.
    const bool continuing = resumedStatus_ == rescue::kBadSector && resumedPass_ == pass &&
                            resumedPos_ >= from_ && resumedPos_ <= to_;
    resumedStatus_ = rescue::kNonTried;
    const uint64_t bound = continuing ? resumedPos_ : forward ? from_ : to_;
    map_.currentPos = bound;
    // The bad areas as they stand at the start of the pass: each is read once.
    std::vector<MapBlock> bad;
    for (auto b =
             map_.findForward(rescue::kBadSector, forward ? bound : from_, forward ? to_ : bound);
         b; b = map_.findForward(rescue::kBadSector, b->end(), forward ? to_ : bound))
        bad.push_back(*b);
    if (!forward) std::reverse(bad.begin(), bad.end());
    for (const MapBlock& block : bad) {
        const uint64_t count = (block.size + kSectorSize - 1) / kSectorSize;
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t a =
                forward ? block.pos + i * kSectorSize : block.pos + (count - 1 - i) * kSectorSize;
            const uint64_t size = std::min<uint64_t>(kSectorSize, block.end() - a);
            bool ok = false;
            if (const Step step = oneSector(a, size, ok); step != Step::Go) return step;
            map_.currentPos = forward ? a + size : a;
        }
    }
    return Step::Go;
}

bool RescuePasses::zeroUnreadable() {
    // Pieces start as zeros, but a run continued over another tool's image may
    // hold anything where the map says nothing was read.
    std::vector<uint8_t> zeros(kCluster, 0);
    std::string why;
    for (const MapBlock& b : map_.blocks()) {
        if (b.status == rescue::kFinished || b.end() <= from_ || b.pos >= to_) continue;
        for (uint64_t a = std::max(b.pos, from_), e = std::min(b.end(), to_); a < e;) {
            const uint64_t size = std::min(kCluster, e - a);
            if (!pieces_->write(a - from_, zeros.data(), size, why)) {
                run_.failureReason.store(why);
                return false;
            }
            a += size;
        }
    }
    return true;
}

ImagingOutcome RescuePasses::run() {
    if (!setUp()) return ImagingOutcome::Failed;
    Step step = Step::Go;
    // A map from an earlier run names the pass it stopped in; passes before it are done.
    const char status = resumedStatus_;
    const int pass = std::max(1, resumedPass_);
    const int firstCopy = status == rescue::kNonTried ? std::min(pass, kRescueCopyPasses) : 1;
    const int firstRetry = status == rescue::kBadSector ? pass : 1;
    // Each pass's end is saved too: a kill loses at most the pass under way's
    // last interval.
    auto passEnd = [&](Step s) { return s == Step::Go && !save() ? Step::Fail : s; };
    for (int p = firstCopy; p <= kRescueCopyPasses && step == Step::Go; ++p)
        step = passEnd(copyPass(p, p != 2, p < 3));
    if (step == Step::Go) step = passEnd(trimPass());
    if (step == Step::Go) step = passEnd(scrapePass());
    for (int p = firstRetry; p <= s_.retryPasses && step == Step::Go; ++p)
        step = passEnd(retryPass(p, p % 2 == 0));
    if (step == Step::Go) {
        setPhase(RescuePhase::Finished, rescue::kFinished, 1);
        map_.currentPos = to_;
        if (!zeroUnreadable()) step = Step::Fail;
    }
    publish(true);
    std::string why;
    // Saved in every case: a failed write leaves the map true to what is stored.
    const bool saved = (!failed_ || shrunk_) && save();
    if (!saved) {
        // The figures then tell what the map on disk holds, not what was read.
        run_.bytesRescued.store(savedRescued_);
        run_.bytesBad.store(savedBad_);
        run_.bytesNonTried.store(savedNonTried_);
    }
    if (!pieces_->closeAll(why) && step != Step::Fail) {
        run_.failureReason.store(why);
        return ImagingOutcome::Failed;
    }
    if (step == Step::Fail || !saved) return ImagingOutcome::Failed;
    if (step == Step::Stop) return ImagingOutcome::Aborted;
    // Pieces of an earlier, longer image would be read back as part of this one.
    if (s_.multiFile) removeLeftoverPieces(pieces_->layout(), pieces_->layout().pieceCount(), {});
    return ImagingOutcome::Completed;
}

}  // namespace kestrum
