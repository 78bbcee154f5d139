// Reads sectors of the source a SourceSpec names: a device, the single image, an
// image file or a split image. What cannot be delivered is zeros, never stale bytes.
#include "disk/SectorReader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "app/ProgressRate.h"
#include "app/Prompter.h"
#include "app/Session.h"
#include "disk/SourceBinding.h"
#include "disk/SourceChoice.h"
#include "platform/DeviceAccess.h"
#include "platform/Devices.h"
#include "platform/Folders.h"
#include "platform/SourceFile.h"

namespace kestrum {
namespace {

using platform::SourceFile;

char* sectorAt(void* buffer, uint64_t sector) {
    return static_cast<char*>(buffer) + sector * kSectorSize;
}

void zeroSectors(void* buffer, uint64_t count) {
    std::memset(buffer, 0, count * kSectorSize);
}

std::atomic<uint64_t> unreadable{0};
// Zeroings by this thread, repeats included: what one copy or image run lost.
thread_local uint64_t zeroedHere = 0;

// The zeroed runs, for the activity log and for telling which found files hold
// zeros, and the sectors among them, so that a sector met again (by the scan's
// read-ahead, then by saving) is counted once. A dying disk may fail millions of
// sectors: past the caps every zeroing counts and only the count goes on.
constexpr size_t kMaxRuns = 10000;
constexpr size_t kMaxKnown = 100000;
std::mutex runsLock;
std::vector<UnreadableRun> zeroedRuns;
std::set<uint64_t> zeroedKnown;
// Sectors the user chose to skip in this run. The thorough scan and the previews
// read a sector again, and asking again about one already answered only confuses;
// after a retry the question stands, as the user wanted the sector tried.
std::set<uint64_t> skippedKnown;

// Set while a read is only a try that the caller repeats sector by sector when it
// fails: such a read neither asks nor counts, or one bad sector would be asked
// about and counted twice.
thread_local bool tryingOnly = false;

void countUnreadable(uint64_t first, uint64_t count) {
    if (tryingOnly || count == 0) return;
    zeroedHere += count;
    std::lock_guard lock(runsLock);
    uint64_t fresh = 0;
    for (uint64_t s = first; s < first + count; ++s)
        if (zeroedKnown.size() >= kMaxKnown || zeroedKnown.insert(s).second) ++fresh;
    unreadable.fetch_add(fresh, std::memory_order_relaxed);
    if (!zeroedRuns.empty() && zeroedRuns.back().first + zeroedRuns.back().count == first)
        zeroedRuns.back().count += count;
    else if (zeroedRuns.size() < kMaxRuns)
        zeroedRuns.push_back({first, count});
}

// Zeros in place of sectors the source could not deliver, counted for the summary.
void zeroUnreadable(void* buffer, uint64_t first, uint64_t count) {
    zeroSectors(buffer, count);
    countUnreadable(first, count);
}

// One positioned read of count sectors. A failed read leaves zeros over the whole
// run (the buffer is usually the caller's previous batch, and its bytes must not
// pass for this sector's); bytes beyond the end of the source are zeros too.
bool readRun(const SourceFile& source, uint64_t sector, void* dest, uint64_t count) {
    const size_t bytes = count * kSectorSize;
    const ssize_t got = source.readAt(sector * kSectorSize, dest, bytes);
    if (got < 0) {
        std::memset(dest, 0, bytes);
        return false;
    }
    if (static_cast<size_t>(got) < bytes)
        std::memset(static_cast<char*>(dest) + got, 0, bytes - static_cast<size_t>(got));
    return true;
}

// Two workers that fail at once would otherwise put up two prompts, and the second
// would ignore a "Skip All" just given to the first.
std::mutex askLock;

// The ask step: prompts unless an "All" answer was given before; true for the
// retry answers.
bool ask() {
    if (tryingOnly) return false;
    std::lock_guard lock(askLock);
    BadSectorAnswer answer = session().badSectorAnswer.load();
    if (answer != BadSectorAnswer::RetryAll && answer != BadSectorAnswer::SkipAll) {
        const UserWait waiting;
        answer = prompter().askBadSector();
        session().badSectorAnswer.store(answer);
    }
    return answer == BadSectorAnswer::Retry || answer == BadSectorAnswer::RetryAll;
}

// Handles kept for the run, so a scan or a copy opens its source once rather than
// once per request: image files by the name they were asked for, and the
// unbuffered handles that failed reads are split through.
struct OpenImage {
    std::shared_ptr<SourceFile> file;
    uint64_t size = 0;  // as last seen; looked at again only when a read goes beyond it
};
std::mutex handlesLock;
std::map<std::string, OpenImage> openImages;
std::map<std::string, std::shared_ptr<SourceFile>> unbufferedHandles;

// The handle through which the sectors of a failed request are read one part at a
// time, so that every sector is judged by itself: through the page cache a bad
// sector would fail its neighbours too. The source's own handle when no other can
// be opened.
std::shared_ptr<SourceFile> unbufferedFor(const std::shared_ptr<SourceFile>& file) {
    std::lock_guard lock(handlesLock);
    auto& own = unbufferedHandles[file->path()];
    if (!own) own = SourceFile::open(file->path(), nullptr, SourceFile::Caching::Unbuffered);
    return own ? own : file;
}

// A sector that could not be read, where it is in its file and in the buffer.
struct BadSector {
    std::shared_ptr<SourceFile> source;  // the unbuffered handle it is read again through
    uint64_t inFile;
    uint64_t absolute;
    char* dest;
};
using BadSectors = std::vector<BadSector>;

// Below this many sectors a failed part is read sector by sector: halving further
// costs more reads than it saves.
constexpr uint64_t kOneByOne = 16;

void isolate(const std::shared_ptr<SourceFile>& source, uint64_t inFile, uint64_t absolute,
             char* dest, uint64_t count, BadSectors& bad) {
    if (count <= kOneByOne) {
        for (uint64_t i = 0; i < count; ++i)
            if (!readRun(*source, inFile + i, dest + i * kSectorSize, 1))
                bad.push_back({source, inFile + i, absolute + i, dest + i * kSectorSize});
        return;
    }
    const uint64_t half = count / 2;
    for (const auto& [from, n] : {std::pair{uint64_t{0}, half}, std::pair{half, count - half}})
        if (!readRun(*source, inFile + from, dest + from * kSectorSize, n))
            isolate(source, inFile + from, absolute + from, dest + from * kSectorSize, n, bad);
}

// Reads count sectors of file at inFile in one request; when it fails, splits it so
// that only the sectors that cannot be read end up in bad. A try does not split:
// its caller reads the sectors again one by one.
void readPart(const std::shared_ptr<SourceFile>& file, uint64_t inFile, uint64_t absolute,
              void* dest, uint64_t count, BadSectors& bad, bool& failedWhole) {
    if (readRun(*file, inFile, dest, count)) return;
    if (tryingOnly) {
        failedWhole = true;
        return;
    }
    if (count == 1) {
        bad.push_back({unbufferedFor(file), inFile, absolute, static_cast<char*>(dest)});
        return;
    }
    isolate(unbufferedFor(file), inFile, absolute, static_cast<char*>(dest), count, bad);
}

// Puts the isolated bad sectors to the user (once for the request), reads them
// once more when asked to retry, and counts what stays zeros. True when nothing did.
bool settle(BadSectors& bad) {
    if (bad.empty()) return true;
    bool skippedBefore = false;
    {
        std::lock_guard lock(runsLock);
        skippedBefore = std::all_of(bad.begin(), bad.end(), [](const BadSector& b) {
            return skippedKnown.count(b.absolute) != 0;
        });
    }
    if (!skippedBefore && ask()) {
        std::erase_if(bad,
                      [](const BadSector& b) { return readRun(*b.source, b.inFile, b.dest, 1); });
        if (bad.empty()) return true;
    } else if (!skippedBefore && !tryingOnly) {
        std::lock_guard lock(runsLock);
        for (const BadSector& b : bad)
            if (skippedKnown.size() < kMaxKnown) skippedKnown.insert(b.absolute);
    }
    for (const BadSector& b : bad) countUnreadable(b.absolute, 1);
    return false;
}

// The open image file asked for by key, opened at first use.
std::optional<OpenImage> cachedImage(const std::string& key) {
    std::lock_guard lock(handlesLock);
    const auto it = openImages.find(key);
    if (it == openImages.end()) return std::nullopt;
    return it->second;
}

std::optional<OpenImage> openImage(const std::string& key, const std::string& path) {
    auto file = SourceFile::open(path);
    if (!file) return std::nullopt;
    OpenImage opened{file, file->size()};
    std::lock_guard lock(handlesLock);
    openImages[key] = opened;
    return opened;
}

void forgetImage(const std::string& key) {
    std::lock_guard lock(handlesLock);
    openImages.erase(key);
}

// The image file for key while sector lies within it; when it lies beyond the end
// the user is asked, and a retry opens the file again (at most once, counted in
// retried). Null when the caller should zero its part.
std::shared_ptr<SourceFile> reachable(const std::string& key, std::optional<OpenImage> image,
                                      uint64_t sector, bool& retried, bool& zeroPart) {
    zeroPart = false;
    while (image && sector * kSectorSize > image->size) {
        // Grown since it was opened (an image still being written)?
        image->size = image->file->size();
        if (sector * kSectorSize <= image->size) {
            std::lock_guard lock(handlesLock);
            openImages[key] = *image;
            break;
        }
        const bool retry = ask();
        const std::string path = image->file->path();
        forgetImage(key);
        image.reset();
        if (!retry || retried) {
            zeroPart = true;
            return nullptr;
        }
        retried = true;
        image = openImage(key, path);
    }
    return image ? image->file : nullptr;
}

// The piece or single image named name in folder (or the named file).
std::optional<OpenImage> findImage(const std::string& key, const std::string& folder,
                                   const std::string& name, const std::string& namedFile) {
    if (auto cached = cachedImage(key)) return cached;
    const auto path =
        namedFile.empty() ? platform::findFileNoCase(folder, name) : std::optional(namedFile);
    return path ? openImage(key, *path) : std::nullopt;
}

std::string keyOf(const std::string& folder, const std::string& name) {
    return folder + '\n' + name;
}

// A request that reaches the end of piece k goes on in piece k+1 at sector 0.
int32_t readSpanning(const std::string& folder, uint64_t start, uint32_t count, void* buffer) {
    const PiecePlace first = ImageLayout(folder, true).placeOf(start * kSectorSize);
    int32_t result = 0;
    bool retried = false;
    bool failedWhole = false;
    BadSectors bad;
    uint64_t done = 0;
    for (uint64_t k = first.piece, from = first.offset / kSectorSize; done < count; ++k, from = 0) {
        const uint64_t part = std::min<uint64_t>(count - done, kPieceSectors - from);
        void* dest = sectorAt(buffer, done);
        const uint64_t absolute = start + done;
        done += part;
        const std::string name = ImageLayout::soughtName(k);
        const std::string key = keyOf(folder, name);
        bool zeroPart = false;
        auto file = reachable(key, findImage(key, folder, name, {}), from, retried, zeroPart);
        if (!file) {
            // A piece that cannot be opened keeps the result of the part before it.
            zeroUnreadable(dest, absolute, part);
            if (zeroPart) result = 0;
            continue;
        }
        const size_t badBefore = bad.size();
        const bool wholeBefore = failedWhole;
        readPart(file, from, absolute, dest, part, bad, failedWhole);
        result = bad.size() == badBefore && failedWhole == wholeBefore ? 1 : 0;
    }
    if (!settle(bad)) result = 0;
    return result;
}

// Reads count sectors of file at inFile (absolute on the source) in one request;
// a file that cannot be reached (null) gives zeros.
int32_t readWhole(const std::shared_ptr<SourceFile>& file, uint64_t inFile, uint64_t absolute,
                  void* buffer, uint64_t count) {
    if (!file) {
        zeroUnreadable(buffer, absolute, count);
        return 0;
    }
    BadSectors bad;
    bool failedWhole = false;
    readPart(file, inFile, absolute, buffer, count, bad, failedWhole);
    return settle(bad) && !failedWhole ? 1 : 0;
}

int32_t readImage(const SourceSpec& spec, uint64_t start, uint32_t count, void* buffer) {
    const bool named = spec.kind == SourceSpec::Kind::ImageFile;
    const std::string folder = named ? std::string() : spec.path;
    const std::string namedFile = named ? spec.path : std::string();
    const bool split = !named && spec.pieces;
    const PiecePlace place = ImageLayout(folder, split).placeOf(start * kSectorSize);
    const uint64_t startInFile = place.offset / kSectorSize;
    if (uint64_t{count} * kSectorSize > place.room)
        return readSpanning(folder, start, count, buffer);
    const std::string name =
        split ? ImageLayout::soughtName(place.piece) : std::string(kSingleImageName);
    const std::string key = namedFile.empty() ? keyOf(folder, name) : namedFile;

    std::optional<OpenImage> image = findImage(key, folder, name, namedFile);
    for (bool retried = false; !image; retried = true) {
        // Asked again after the one retry, as before it; only the answer is ignored.
        const bool retry = ask();
        if (!retry || retried) {
            zeroUnreadable(buffer, start, count);
            return 0;
        }
        image = findImage(key, folder, name, namedFile);
    }

    bool retried = false;
    bool zeroPart = false;
    return readWhole(reachable(key, image, startInFile, retried, zeroPart), startInFile, start,
                     buffer, count);
}

// The device handle, kept between reads and replaced only when another path is
// read. Readers copy the shared pointer under the lock, so a switch to another
// device never closes a handle that another worker is reading from. A failed open
// is kept too (as null), so a missing device does not cost an open per batch.
struct OpenDevice {
    std::string path;
    std::shared_ptr<SourceFile> file;
    bool opened = false;
};
std::mutex deviceLock;
OpenDevice openDevice;

std::shared_ptr<SourceFile> deviceHandleFor(const std::string& devicePath) {
    std::lock_guard lock(deviceLock);
    if (!openDevice.opened || openDevice.path != devicePath) {
        // Readers still holding the old handle keep it open until they finish.
        openDevice.file.reset();
        openDevice.path = devicePath;
        // The chosen disk where it is now; never a disk that took its number.
        const std::string node = nodeForReading(devicePath);
        openDevice.file = node.empty() ? nullptr : SourceFile::open(node);
        openDevice.opened = true;
    }
    return openDevice.file;
}

}  // namespace

SectorReader::SectorReader(SourceSpec spec, uint64_t guardEnd)
    : spec_(std::move(spec)), guardEnd_(guardEnd) {}

int32_t SectorReader::read(uint64_t start, uint32_t count, void* buffer) const {
    if (guardEnd_ > 0 && start > guardEnd_) {
        zeroSectors(buffer, count);
        return 0;
    }
    if (spec_.isImage()) return readImage(spec_, start, count, buffer);
    if (session().osFamily.load() == 'N')
        return readWhole(deviceHandleFor(spec_.devicePath), start, start, buffer, count);
    zeroSectors(buffer, count);
    return 0;
}

int32_t SectorReader::tryRead(uint64_t start, uint32_t count, void* buffer) const {
    tryingOnly = true;
    const int32_t result = read(start, count, buffer);
    tryingOnly = false;
    return result;
}

std::optional<uint64_t> SectorReader::sectorCount() const {
    uint64_t bytes = 0;
    if (spec_.kind == SourceSpec::Kind::ImageFolder && spec_.pieces) {
        const PiecesFound pieces = ImageLayout::countPieces(spec_.path);
        if (pieces.count() == 0) return std::nullopt;
        bytes = pieces.totalBytes;
    } else {
        const std::string path = spec_.isImage() ? spec_.firstImagePath().value_or(std::string())
                                                 : nodeForReading(spec_.devicePath);
        const auto file = path.empty() ? nullptr : SourceFile::open(path);
        if (!file) return std::nullopt;
        bytes = file->size();
    }
    return (bytes + kSectorSize - 1) / kSectorSize;
}

std::string SectorReader::openProblem(const std::string& shown) const {
    if (spec_.isImage()) {
        const std::string path = spec_.expectedImagePath();
        const std::string problem = platform::openProblem(path);
        return problem.empty() ? problem
                               : "The image " + path + " cannot be opened for reading: " + problem;
    }
    const std::string node = nodeForReading(spec_.devicePath);
    if (node.empty())
        return shown + " cannot be opened for reading: there is no device " + spec_.devicePath +
               " any more. Attach the medium and choose it again.";
    const std::string problem = platform::openProblem(node);
    return problem.empty() ? problem
                           : shown + " (" + node + ") cannot be opened for reading: " + problem;
}

SectorReader openSource(const SourceSpec& spec, uint64_t guardEnd) {
    return SectorReader(spec, guardEnd);
}

SectorReader openSessionSource() {
    return openSource(session().sourceSpec(), session().rangeEnd.load());
}

namespace {
SectorReader sessionSourceThrough(const std::string& devicePath) {
    SourceSpec spec = session().sourceSpec();
    if (!spec.isImage()) spec.devicePath = devicePath;
    return openSource(spec, session().rangeEnd.load());
}
}  // namespace

int32_t readSectors(uint64_t start, uint32_t count, void* buffer, const std::string& devicePath) {
    return sessionSourceThrough(devicePath).read(start, count, buffer);
}

int32_t tryReadSectors(uint64_t start, uint32_t count, void* buffer,
                       const std::string& devicePath) {
    return sessionSourceThrough(devicePath).tryRead(start, count, buffer);
}

uint64_t unreadableSectors() {
    return unreadable.load(std::memory_order_relaxed);
}

size_t unreadableMark() {
    std::lock_guard lock(runsLock);
    return zeroedRuns.size();
}

std::vector<UnreadableRun> unreadableRunsSince(size_t mark) {
    std::lock_guard lock(runsLock);
    if (mark > zeroedRuns.size()) mark = 0;  // forgotten since: all of them are new
    return {zeroedRuns.begin() + static_cast<std::ptrdiff_t>(mark), zeroedRuns.end()};
}

uint64_t sectorsZeroedOnThisThread() {
    return zeroedHere;
}

bool holdsUnreadable(uint64_t first, uint64_t count) {
    std::lock_guard lock(runsLock);
    const auto it = zeroedKnown.lower_bound(first);
    if (it != zeroedKnown.end() && *it < first + count) return true;
    // Past the cap the runs still tell.
    return zeroedKnown.size() >= kMaxKnown &&
           std::any_of(zeroedRuns.begin(), zeroedRuns.end(), [&](const UnreadableRun& r) {
               return r.first < first + count && first < r.first + r.count;
           });
}

std::string zeroedSectorsText(const std::string& done, uint64_t zeroed, const std::string& where) {
    return done + "; " + std::to_string(zeroed) + (zeroed == 1 ? " sector" : " sectors") +
           " could not be read and " + (zeroed == 1 ? "is" : "are") + " zeros in " + where + ".";
}

std::string unreadableRunsText(std::vector<UnreadableRun> runs) {
    // In order, each sector once: a sector met again (read-ahead, a retry) is one loss.
    std::sort(runs.begin(), runs.end(),
              [](const UnreadableRun& a, const UnreadableRun& b) { return a.first < b.first; });
    std::vector<UnreadableRun> merged;
    for (const UnreadableRun& r : runs) {
        if (!merged.empty() && r.first <= merged.back().first + merged.back().count)
            merged.back().count =
                std::max(merged.back().count, r.first + r.count - merged.back().first);
        else
            merged.push_back(r);
    }
    std::string text;
    for (const UnreadableRun& r : merged) {
        if (!text.empty()) text += ", ";
        text += std::to_string(r.first);
        if (r.count > 1) text += "-" + std::to_string(r.first + r.count - 1);
    }
    return text;
}

void forgetSourceHandles() {
    {
        std::lock_guard lock(handlesLock);
        openImages.clear();
        unbufferedHandles.clear();
    }
    std::lock_guard lock(deviceLock);
    openDevice = OpenDevice{};
}

void closeDeviceHandle() {
    forgetSourceHandles();
    std::lock_guard lock(runsLock);
    zeroedRuns.clear();
    zeroedKnown.clear();
    skippedKnown.clear();
}

}  // namespace kestrum
