// The rescue passes. Every byte the map calls rescued is durably in the image
// first: the pieces are flushed before each map save.
#include "imaging/RescueRun.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>

#include "app/Log.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "disk/SizeText.h"
#include "disk/SourceBinding.h"
#include "platform/DeviceIdentity.h"
#include "platform/Devices.h"
#include "platform/DurableReplace.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/PathSeparators.h"
#include "platform/PositionedFile.h"
#include "platform/RecordFile.h"
#include "platform/SourceFile.h"
#include "saving/DestinationCheck.h"
#include "saving/TextFormat.h"

namespace kestrum {
namespace {

using Clock = std::chrono::steady_clock;
using platform::SourceFile;

constexpr uint64_t kCluster = 1 << 20;      // bytes per copying read
constexpr uint64_t kSkipFirst = 1 << 16;    // first skip after a failed or slow read
constexpr uint64_t kSkipMost = 1ULL << 30;  // the skip grows at most to this
constexpr uint64_t kPieceBytes = kPieceSectors * kSectorSize;
constexpr size_t kOpenPiecesMost = 8;
constexpr int kCopyPasses = 3;
// The imaging check's words for too little room, which a resumed run looks at again.
constexpr const char* kNoFreeSpace =
    "Insufficient free space on destination. Please change destination path.";

std::string bytesText(uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    uint64_t unit = 1024;
    int u = 0;
    while (bytes / unit >= 1024 && u < 3) unit *= 1024, ++u;
    // Cut, never rounded up: 48 MiB short of 64 GiB must not read "64.0 GiB".
    const uint64_t tenths = bytes / unit * 10 + bytes % unit * 10 / unit;
    return textf("%llu.%llu %s", static_cast<unsigned long long>(tenths / 10),
                 static_cast<unsigned long long>(tenths % 10), units[u]);
}

// The image pieces, opened on demand and flushed before the map may count on them.
class Pieces {
public:
    Pieces(std::string folder, bool multiFile, uint64_t imageBytes)
        : folder_(std::move(folder)), multiFile_(multiFile), imageBytes_(imageBytes) {}

    uint64_t count() const {
        return multiFile_ ? std::max<uint64_t>(1, (imageBytes_ + kPieceBytes - 1) / kPieceBytes)
                          : 1;
    }
    uint64_t bytesOf(uint64_t k) const {
        if (!multiFile_) return imageBytes_;
        return std::min(kPieceBytes, imageBytes_ - k * kPieceBytes);
    }
    std::string pathOf(uint64_t k) const { return imagePiecePath(folder_, k); }

    // Makes every piece its full length: fresh ones new and empty, kept ones as
    // they are, so that what is never read stays zeros.
    bool prepare(bool fresh, std::string& why) {
        for (uint64_t k = 0; k < count(); ++k) {
            platform::PositionedFile* f = file(k, fresh, why);
            int error = 0;
            if (!f) return false;
            // Kept pieces of a longer earlier image are cut to this range; the start
            // checks refused a map that calls any of the cut bytes rescued.
            if (f->size() != bytesOf(k) && !f->resize(bytesOf(k), &error)) {
                why = textf("Could not write %s: %s", pathOf(k).c_str(), std::strerror(error));
                return false;
            }
        }
        return true;
    }

    // Writes image bytes [offset, offset + size), across piece ends as needed.
    bool write(uint64_t offset, const uint8_t* data, uint64_t size, std::string& why) {
        while (size > 0) {
            const uint64_t k = multiFile_ ? offset / kPieceBytes : 0;
            const uint64_t in = multiFile_ ? offset % kPieceBytes : offset;
            const uint64_t part = multiFile_ ? std::min(size, kPieceBytes - in) : size;
            platform::PositionedFile* f = file(k, false, why);
            if (!f) return false;
            int error = 0;
            if (!f->writeAt(in, data, part, &error)) {
                why = textf("Could not write %s: %s", pathOf(k).c_str(), std::strerror(error));
                return false;
            }
            dirty_[k] = true;
            last_ = pathOf(k);
            offset += part;
            data += part;
            size -= part;
        }
        return true;
    }

    bool syncAll(std::string& why) {
        for (auto& [k, f] : open_)
            if (!syncOne(k, *f, why)) return false;
        return true;
    }
    bool closeAll(std::string& why) {
        if (!syncAll(why)) return false;
        for (auto& [k, f] : open_) {
            int error = 0;
            if (!f->close(&error)) {
                why = textf("Could not write %s: %s", pathOf(k).c_str(), std::strerror(error));
                return false;
            }
        }
        open_.clear();
        return true;
    }
    const std::string& lastWritten() const { return last_; }

private:
    bool syncOne(uint64_t k, platform::PositionedFile& f, std::string& why) {
        if (!dirty_[k]) return true;
        int error = 0;
        if (!f.sync(&error)) {
            why = textf("Could not write %s: %s", pathOf(k).c_str(), std::strerror(error));
            return false;
        }
        dirty_[k] = false;
        return true;
    }

    platform::PositionedFile* file(uint64_t k, bool fresh, std::string& why) {
        if (auto it = open_.find(k); it != open_.end()) return it->second.get();
        // A 2 TB image has thousands of pieces; only a few stay open, and a piece
        // is flushed before it is closed so that the next map save can count on it.
        while (open_.size() >= kOpenPiecesMost) {
            auto victim = open_.begin();
            if (!syncOne(victim->first, *victim->second, why)) return nullptr;
            open_.erase(victim);
        }
        int error = 0;
        auto f = platform::PositionedFile::open(pathOf(k), fresh, &error);
        if (!f) {
            why = textf("Could not create %s: %s", pathOf(k).c_str(), std::strerror(error));
            return nullptr;
        }
        return open_.emplace(k, std::move(f)).first->second.get();
    }

    std::string folder_;
    bool multiFile_;
    uint64_t imageBytes_;
    std::map<uint64_t, std::unique_ptr<platform::PositionedFile>> open_;
    std::map<uint64_t, bool> dirty_;
    std::string last_;
};

// How the image maps onto the source: the map's positions are the source's, the
// image's byte 0 is the range's first sector.
std::string originOf(const RescueSettings& s) {
    return textf("source sector %llu is image byte 0, %s",
                 static_cast<unsigned long long>(s.startSector),
                 s.multiFile ? "650 MiB pieces" : "one file");
}

// Refuses a map of our own made for another range start or piece layout: its
// rescued areas would be looked for at the wrong place of the image.
std::string foreignOrigin(const RescueMap& map, const RescueSettings& s, const std::string& path) {
    if (map.imageOrigin.empty() || map.imageOrigin == originOf(s)) return {};
    return "The map " + path + " belongs to another image (" + map.imageOrigin +
           "; this run would have " + originOf(s) +
           "). Give the same range start and piece layout, or another map";
}

// What the map calls rescued that the image does not hold, so that continuing
// would lose it or count zeros as data; empty when the image holds all of it.
std::string rescuedButNotHeld(const RescueMap& map, const RescueSettings& s,
                              const std::string& path) {
    const uint64_t from = s.startSector * kSectorSize, to = s.endSector * kSectorSize;
    const std::string lead = "The map " + path + " ";
    // Another tool's image holds source byte N at image byte N.
    if (map.imageOrigin.empty() && from > 0 && map.bytesWith(rescue::kFinished, 0, map.size()) > 0)
        return lead +
               "was written by another tool, whose image holds each source byte at the same "
               "position; this run would put source sector " +
               std::to_string(s.startSector) +
               " at image byte 0. Continue it with a range that starts at sector 0 (--range 0:" +
               std::to_string(s.endSector) + "), or give another map";
    if (const auto before = map.findForward(rescue::kFinished, 0, from))
        return lead + "calls source bytes from " + std::to_string(before->pos) +
               " rescued, before this range's start; give the range the map was made with";
    if (const auto after = map.findBackward(rescue::kFinished, to, std::max(to, map.size())))
        return lead + "calls source bytes up to " + std::to_string(after->end()) +
               " rescued, past this range's end (byte " + std::to_string(to) +
               "): continuing would cut them from the image. Give a range that ends at sector " +
               std::to_string((after->end() + kSectorSize - 1) / kSectorSize) +
               " or later (the source may have become smaller), or another --out folder and map";
    const Pieces pieces(s.folder, s.multiFile, to - from);
    for (uint64_t k = 0; k < pieces.count(); ++k) {
        const uint64_t a = from + (s.multiFile ? k * kPieceBytes : 0);
        const uint64_t b = a + pieces.bytesOf(k);
        const auto last = map.findBackward(rescue::kFinished, a, b);
        if (!last) continue;
        const auto found = platform::findFileNoCase(s.folder, "Image" + std::to_string(k) + ".img");
        if (!found)
            return lead + "records rescued data in " + pieces.pathOf(k) +
                   ", which is missing. Give the folder that holds that image, or remove the map "
                   "to start over";
        struct stat st {};
        const uint64_t held = ::stat(found->c_str(), &st) == 0 ? st.st_size : 0;
        if (held < last->end() - a)
            return lead + "calls " + std::to_string(last->end() - a) + " bytes of " + *found +
                   " rescued, but it holds " + std::to_string(held) +
                   ": the image was cut or replaced. Give the image that belongs to the map, or "
                   "remove the map to start over";
    }
    return {};
}

}  // namespace

std::string sourceIdentityText(const std::string& sourcePath, uint64_t sourceBytes) {
    if (std::string disk = platform::identityRecordText(sourcePath); !disk.empty()) return disk;
    return "file; bytes=" + std::to_string(sourceBytes);
}

namespace {

std::string otherSource(const RescueMap& map, const std::string& now, const std::string& path) {
    if (map.sourceIdentity.empty() || map.sourceIdentity == now) return {};
    return "The map " + path + " belongs to another disk (" + map.sourceIdentity +
           "; the source now is " + now +
           "). Nothing was read. Give the disk the map was made of, or another map";
}

// A map path that would overwrite the data itself, or a record of another kind.
std::string mapPathProblem(const std::string& mapPath, const std::string& sourcePath) {
    std::string name = mapPath.substr(mapPath.find_last_of(platform::kPathSeparators) + 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool pieceName = name.size() > 9 && name.rfind("image", 0) == 0 &&
                           name.ends_with(".img") &&
                           name.find_first_not_of("0123456789", 5) == name.size() - 4;
    if (pieceName)
        return "The map " + mapPath +
               " would take the place of an image piece. Give the map another name (such as "
               "Image0.map).";
    if (!sourcePath.empty() && platform::sameFile(mapPath, sourcePath))
        return "The map " + mapPath + " is the source itself. Give another map file.";
    std::string head, ignored;
    if (platform::readRecordFile(mapPath, 1 << 20, "The map " + mapPath, head, ignored) ==
            platform::RecordRead::Read &&
        head.rfind("kestrum scan session", 0) == 0)
        return "The map " + mapPath + " is a scan session record. Give another map file.";
    return {};
}

}  // namespace

std::string defaultMapPath(const std::string& folder) {
    return platform::joinPath(folder, "Image0.map");
}

std::string rescueSourcePath(std::string* why) {
    const Session& s = session();
    if (s.imageSource.load() == 0) {
        // The disk that was checked when it was chosen, never another one that
        // has taken its number since.
        const std::string node = nodeForReading(s.selectedDevicePath());
        if (node.empty() && why)
            *why = "The source device " + s.selectedDevicePath() + " is not there.";
        return node;
    }
    if (std::string named = s.imageFile.load(); !named.empty()) return named;
    if (s.imageSplit.load() != 0) {
        if (why)
            *why = "Rescue mode reads a device or a single image file, not an image in pieces.";
        return {};
    }
    const auto found = platform::findFileNoCase(s.imageFolder.load(), kSingleImageName);
    if (!found && why) *why = "There is no Image0.img in " + s.imageFolder.load() + ".";
    return found.value_or(std::string{});
}

// One run of the passes over the map.
class RescueRun::Engine {
public:
    explicit Engine(RescueRun& run)
        : run_(run),
          s_(run.settings_),
          from_(s_.startSector * kSectorSize),
          to_(s_.endSector * kSectorSize),
          pieces_(s_.folder, s_.multiFile, to_ - from_),
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
    bool readRun(const SourceFile& from, uint64_t pos, uint64_t size);
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
    Pieces pieces_;
    std::shared_ptr<SourceFile> source_, sectorSource_;
    std::vector<uint8_t> buffer_;
    std::time_t started_;
    Clock::time_point lastSave_ = Clock::now();
    Clock::time_point lastPublish_{};
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

bool RescueRun::Engine::setUp() {
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
    if (!pieces_.prepare(!loaded, why)) {
        run_.failureReason.store(why);
        return false;
    }
    buffer_.resize(kCluster);
    publish(true);
    // The map exists from the start, so that a kill before the first save still
    // leaves a map that matches the fresh pieces.
    return save();
}

void RescueRun::Engine::publish(bool force) {
    const auto now = Clock::now();
    if (!force && now - lastPublish_ < std::chrono::milliseconds(100)) return;
    lastPublish_ = now;
    run_.bytesRescued.store(map_.bytesWith(rescue::kFinished, from_, to_));
    run_.bytesNonTried.store(map_.bytesWith(rescue::kNonTried, from_, to_));
    run_.bytesBad.store(map_.bytesWith(rescue::kNonTrimmed, from_, to_) +
                        map_.bytesWith(rescue::kNonScraped, from_, to_) +
                        map_.bytesWith(rescue::kBadSector, from_, to_));
}

bool RescueRun::Engine::save() {
    std::string why;
    if (!pieces_.syncAll(why)) {
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

RescueRun::Engine::Step RescueRun::Engine::between() {
    if (failed_) return Step::Fail;
    run_.pauseGate.pass();
    if (run_.stopRequested_.load()) return Step::Stop;
    if (Clock::now() - lastSave_ >= s_.saveEvery && !save()) return Step::Fail;
    return Step::Go;
}

bool RescueRun::Engine::readRun(const SourceFile& from, uint64_t pos, uint64_t size) {
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

bool RescueRun::Engine::keep(uint64_t pos, uint64_t size) {
    std::string why;
    if (!pieces_.write(pos - from_, buffer_.data(), size, why)) {
        run_.failureReason.store(why);
        failed_ = true;
        return false;
    }
    run_.lastFileName.store(pieces_.lastWritten());
    map_.mark(pos, size, rescue::kFinished);
    return true;
}

RescueRun::Engine::Step RescueRun::Engine::tryRead(uint64_t pos, uint64_t size, bool& ok) {
    if (const Step step = between(); step != Step::Go) return step;
    ok = readRun(*sectorSource_, pos, size);
    if (failed_ || (ok && !keep(pos, size))) return Step::Fail;
    map_.currentPos = pos;
    publish();
    return Step::Go;
}

RescueRun::Engine::Step RescueRun::Engine::oneSector(uint64_t pos, uint64_t size, bool& ok) {
    const Step step = tryRead(pos, size, ok);
    if (step == Step::Go && !ok) {
        map_.mark(pos, size, rescue::kBadSector);
        publish();
    }
    return step;
}

RescueRun::Engine::Step RescueRun::Engine::copyPass(int pass, bool forward, bool skipping) {
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

RescueRun::Engine::Step RescueRun::Engine::trimEdge(uint64_t& a, uint64_t& b, bool forward) {
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

RescueRun::Engine::Step RescueRun::Engine::trimPass() {
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

RescueRun::Engine::Step RescueRun::Engine::scrapePass() {
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

RescueRun::Engine::Step RescueRun::Engine::retryPass(int pass, bool forward) {
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

bool RescueRun::Engine::zeroUnreadable() {
    // Pieces start as zeros, but a run continued over another tool's image may
    // hold anything where the map says nothing was read.
    std::vector<uint8_t> zeros(kCluster, 0);
    std::string why;
    for (const MapBlock& b : map_.blocks()) {
        if (b.status == rescue::kFinished || b.end() <= from_ || b.pos >= to_) continue;
        for (uint64_t a = std::max(b.pos, from_), e = std::min(b.end(), to_); a < e;) {
            const uint64_t size = std::min(kCluster, e - a);
            if (!pieces_.write(a - from_, zeros.data(), size, why)) {
                run_.failureReason.store(why);
                return false;
            }
            a += size;
        }
    }
    return true;
}

ImagingOutcome RescueRun::Engine::run() {
    if (!setUp()) return ImagingOutcome::Failed;
    Step step = Step::Go;
    // A map from an earlier run names the pass it stopped in; passes before it are done.
    const char status = resumedStatus_;
    const int pass = std::max(1, resumedPass_);
    const int firstCopy = status == rescue::kNonTried ? std::min(pass, kCopyPasses) : 1;
    const int firstRetry = status == rescue::kBadSector ? pass : 1;
    // Each pass's end is saved too: a kill loses at most the pass under way's
    // last interval.
    auto passEnd = [&](Step s) { return s == Step::Go && !save() ? Step::Fail : s; };
    for (int p = firstCopy; p <= kCopyPasses && step == Step::Go; ++p)
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
    if (!pieces_.closeAll(why) && step != Step::Fail) {
        run_.failureReason.store(why);
        return ImagingOutcome::Failed;
    }
    if (step == Step::Fail || !saved) return ImagingOutcome::Failed;
    if (step == Step::Stop) return ImagingOutcome::Aborted;
    // Pieces of an earlier, longer image would be read back as part of this one.
    if (s_.multiFile)
        for (uint64_t k = pieces_.count();; ++k) {
            const auto leftover =
                platform::findFileNoCase(s_.folder, "Image" + std::to_string(k) + ".img");
            if (!leftover || !platform::removeEntry(*leftover)) break;
        }
    return ImagingOutcome::Completed;
}

RescueRun::RescueRun(RescueSettings settings)
    : settings_(std::move(settings)),
      mapPath_(settings_.mapPath.empty() ? defaultMapPath(settings_.folder) : settings_.mapPath) {}

RescueRun::~RescueRun() = default;

uint64_t RescueRun::rangeBytes() const {
    return (settings_.endSector - settings_.startSector) * kSectorSize;
}

std::string RescueRun::checkStart() const {
    const ImagingRun imaging(settings_.startSector, settings_.endSector);
    std::string why;
    if (std::string refusal = imaging.checkStart(settings_.folder); !refusal.empty()) {
        // A run that goes on needs room only for what its pieces do not hold yet:
        // half a 2 TB image already written must not block the second half.
        if (refusal != kNoFreeSpace || !loadRescueMap(mapPath_, &why)) return refusal;
        const Pieces pieces(settings_.folder, settings_.multiFile, rangeBytes());
        uint64_t held = 0;
        for (uint64_t k = 0; k < pieces.count(); ++k)
            if (const auto found = platform::findFileNoCase(settings_.folder,
                                                            "Image" + std::to_string(k) + ".img"))
                held += std::min(platform::allocatedBytes(*found), pieces.bytesOf(k));
        const uint64_t needed = rangeBytes() - std::min(held, rangeBytes());
        if (!freeSpaceSuffices(platform::freeBytesOf(settings_.folder).value_or(0), needed))
            return refusal;
    }
    const std::string sourcePath = rescueSourcePath(&why);
    if (sourcePath.empty()) return why;
    if (std::string refusal = mapPathProblem(mapPath_, sourcePath); !refusal.empty())
        return refusal;
    const std::string mapFolder =
        mapPath_.substr(0, mapPath_.find_last_of(platform::kPathSeparators) + 1);
    if (!mapFolder.empty() && !platform::directoryExists(mapFolder))
        return "The folder of the map " + mapPath_ + " does not exist.";
    if (std::string refusal = destinationOnSourceMessage(mapFolder.empty() ? "." : mapFolder);
        !refusal.empty())
        return refusal;
    auto map = loadRescueMap(mapPath_, &why);
    if (!map && !why.empty()) return why;
    if (map) {
        struct stat st {};
        const uint64_t fileBytes = ::stat(sourcePath.c_str(), &st) == 0 ? st.st_size : 0;
        std::string refusal =
            otherSource(*map, sourceIdentityText(sourcePath, fileBytes), mapPath_);
        if (refusal.empty()) refusal = foreignOrigin(*map, settings_, mapPath_);
        if (refusal.empty()) refusal = rescuedButNotHeld(*map, settings_, mapPath_);
        if (!refusal.empty()) return refusal + ".";
    }
    return {};
}

bool RescueRun::start() {
    if (imagingThread().running()) return false;
    stopRequested_.store(false);
    imagingStopRequested.store(0);
    imagingMultiFile.store(settings_.multiFile ? 1 : 0);
    outcome_.store(ImagingOutcome::Running);
    working_.store(true);
    if (imagingThread().start([this] { work(); })) return true;
    working_.store(false);
    return false;
}

int RescueRun::work() {
    working_.store(true);
    outcome_.store(ImagingOutcome::Running);
    Engine engine(*this);
    const ImagingOutcome outcome = engine.run();
    outcome_.store(outcome);
    working_.store(false);
    return outcome == ImagingOutcome::Completed ? 1 : 0;
}

bool RescueRun::stop(const std::function<bool()>& confirm) {
    if (!working()) return false;
    pauseGate.pause();
    const bool yes = confirm();
    if (yes) stopRequested_.store(true);
    pauseGate.resume();
    return yes;
}

int RescueRun::progressPercent() const {
    const uint64_t total = rangeBytes();
    if (total == 0) return 0;
    // Given up areas count as done only once the passes that may still read
    // them are over.
    uint64_t done = bytesRescued.load();
    if (phase.load() == RescuePhase::Finished) done += bytesBad.load();
    return static_cast<int>(std::min<uint64_t>(100, done * 100 / total));
}

std::string RescueRun::phaseText() const {
    const int pass = passNumber.load();
    switch (phase.load()) {
        case RescuePhase::Starting:
            return "Starting";
        case RescuePhase::Copying:
            return textf("Copying (pass %d of %d)", pass, kCopyPasses);
        case RescuePhase::Trimming:
            return "Trimming";
        case RescuePhase::Scraping:
            return "Scraping";
        case RescuePhase::Retrying:
            return textf("Retrying (pass %d of %d)", pass, settings_.retryPasses);
        case RescuePhase::Finished:
            return "Finished";
    }
    return {};
}

std::string RescueRun::figuresText() const {
    return "rescued " + bytesText(bytesRescued.load()) + ", bad " + bytesText(bytesBad.load()) +
           ", not tried " + bytesText(bytesNonTried.load());
}

std::string RescueRun::ddrescueContinuation() const {
    std::string why;
    const std::string source = rescueSourcePath(&why);
    if (source.empty()) return {};
    struct stat st {};
    const bool wholeSource =
        settings_.startSector == 0 &&
        (platform::identityOf(source) ? platform::identityOf(source)->sizeBytes
                                      : (::stat(source.c_str(), &st) == 0 ? st.st_size : 0)) ==
            settings_.endSector * kSectorSize;
    if (settings_.multiFile)
        return "GNU ddrescue cannot continue an image in pieces: continue it with this command.";
    if (wholeSource) return {};
    // The map's positions are the source's; the image starts at the range's start.
    return textf("To continue with GNU ddrescue: ddrescue -i %llu -o 0 -s %llu %s %s %s",
                 static_cast<unsigned long long>(settings_.startSector * kSectorSize),
                 static_cast<unsigned long long>(rangeBytes()), source.c_str(),
                 imagePiecePath(settings_.folder, 0).c_str(), mapPath_.c_str());
}

std::string RescueRun::finalMessage() const {
    switch (outcome()) {
        case ImagingOutcome::Completed:
            if (bytesBad.load() == 0) return "Image creation completed successfully.";
            return textf(
                "Image creation completed. %llu bytes could not be read and are zeros "
                "in the image; the map %s lists them.",
                static_cast<unsigned long long>(bytesBad.load()), mapPath_.c_str());
        case ImagingOutcome::Aborted:
            return "Image creation aborted. Start it again with the same map to continue.";
        case ImagingOutcome::Failed:
            return "Image creation failed. " + failureReason.load() + ".";
        case ImagingOutcome::Running:
            break;
    }
    return "Process is running.";
}

MessageIcon RescueRun::finalIcon() const {
    switch (outcome()) {
        case ImagingOutcome::Completed:
            return bytesBad.load() == 0 ? MessageIcon::Information : MessageIcon::Exclamation;
        case ImagingOutcome::Running:
            return MessageIcon::Exclamation;
        default:
            return MessageIcon::Error;
    }
}

std::vector<std::string> RescueRun::activityLogLines() const {
    std::vector<std::string> lines{
        "\r\nAnalysing Disk Imaging Information :",
        "Rescue Mode : map " + mapPath_ + (resumed.load() ? " (continued)" : ""),
        "Current Pass : " + phaseText(),
        textf("Bytes Rescued : %llu", static_cast<unsigned long long>(bytesRescued.load())),
        textf("Bytes Bad : %llu", static_cast<unsigned long long>(bytesBad.load())),
        textf("Bytes Not Tried : %llu", static_cast<unsigned long long>(bytesNonTried.load())),
        "Last File : " + lastFileName.load(),
    };
    if (const std::string ddrescue = ddrescueContinuation(); !ddrescue.empty())
        lines.push_back(ddrescue);
    appendOutcomeLines(lines, outcome(), failureReason.load());
    return lines;
}

void RescueRun::appendActivityLog() const {
    for (const std::string& line : activityLogLines()) appendLog(LogKind::Activity, line);
}

}  // namespace kestrum
