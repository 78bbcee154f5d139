// Reads sectors of the session's source: a device, the single image or a split
// image. Whatever cannot be delivered ends up as zeros, never as stale bytes.
#include "disk/SectorReader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "app/Prompter.h"
#include "app/Session.h"
#include "disk/SourceBinding.h"
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

// Set while a read is only a try that the caller repeats sector by sector when it
// fails: such a read neither asks nor counts, or one bad sector would be asked
// about and counted twice.
thread_local bool tryingOnly = false;

void countUnreadable(uint64_t count) {
    if (!tryingOnly) unreadable.fetch_add(count, std::memory_order_relaxed);
}

// Zeros in place of sectors the source could not deliver, counted for the summary.
void zeroUnreadable(void* buffer, uint64_t count) {
    zeroSectors(buffer, count);
    countUnreadable(count);
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
        answer = prompter().askBadSector();
        session().badSectorAnswer.store(answer);
    }
    return answer == BadSectorAnswer::Retry || answer == BadSectorAnswer::RetryAll;
}

std::shared_ptr<SourceFile> openFound(const std::optional<std::string>& path) {
    return path ? SourceFile::open(*path) : nullptr;
}

// Reopens file while sector lies beyond its end and the user asks to retry; at
// most one retry, counted in retried. Null when the caller should zero its part.
std::shared_ptr<SourceFile> ensureReachable(std::shared_ptr<SourceFile> file, uint64_t sector,
                                            bool& retried, bool& zeroPart) {
    zeroPart = false;
    while (file && sector * kSectorSize > file->size()) {
        const bool retry = ask();
        const std::string path = file->path();
        file.reset();
        if (!retry || retried) {
            zeroPart = true;
            return nullptr;
        }
        retried = true;
        file = SourceFile::open(path);
    }
    return file;
}

// A request that reaches the end of piece k goes on in piece k+1 at sector 0.
int32_t readSpanning(const std::string& folder, uint64_t piece, uint64_t startInPiece,
                     uint32_t count, void* buffer) {
    int32_t result = 0;
    bool retried = false;
    uint64_t done = 0;
    for (uint64_t k = piece, from = startInPiece; done < count; ++k, from = 0) {
        const uint64_t part = std::min<uint64_t>(count - done, kPieceSectors - from);
        void* dest = sectorAt(buffer, done);
        done += part;
        bool zeroPart = false;
        auto file = ensureReachable(openFound(platform::findFileNoCase(folder, imagePieceName(k))),
                                    from, retried, zeroPart);
        if (!file) {
            // A piece that cannot be opened keeps the result of the part before it.
            zeroUnreadable(dest, part);
            if (zeroPart) result = 0;
            continue;
        }
        result = readRun(*file, from, dest, part) ? 1 : 0;
        if (result == 0) countUnreadable(part);
    }
    return result;
}

int32_t readImage(uint64_t start, uint32_t count, void* buffer) {
    Session& s = session();
    const std::string folder = s.imageFolder.load();
    const std::string namedFile = s.imageFile.load();
    const bool split = namedFile.empty() && s.imageSplit.load() != 0;
    const uint64_t piece = split ? start / kPieceSectors : 0;
    const uint64_t startInFile = split ? start % kPieceSectors : start;
    const std::string name = split ? imagePieceName(piece) : std::string(kSingleImageName);

    std::optional<std::string> path =
        namedFile.empty() ? platform::findFileNoCase(folder, name) : std::optional(namedFile);
    for (bool retried = false; !path; retried = true) {
        // Asked again after the one retry, as before it; only the answer is ignored.
        const bool retry = ask();
        if (!retry || retried) {
            zeroUnreadable(buffer, count);
            return 0;
        }
        path = platform::findFileNoCase(folder, name);
    }

    bool retried = false;
    bool zeroPart = false;
    auto file = ensureReachable(SourceFile::open(*path), startInFile, retried, zeroPart);
    if (!file) {
        zeroUnreadable(buffer, count);
        return 0;
    }
    if (split && startInFile + count >= kPieceSectors) {
        file.reset();
        return readSpanning(folder, piece, startInFile, count, buffer);
    }
    if (readRun(*file, startInFile, buffer, count)) return 1;
    countUnreadable(count);
    return 0;
}

// The cached device handle, replaced only when another path is read. A failed open
// is cached too (as null), so a missing device does not cost an open per batch.
std::shared_ptr<SourceFile> deviceHandleFor(const std::string& devicePath) {
    Session& s = session();
    std::lock_guard lock(s.deviceHandleLock);
    if (!s.deviceHandleOpened || s.deviceHandlePath != devicePath) {
        // Readers still holding the old handle keep it open until they finish.
        s.deviceHandle.reset();
        s.deviceHandlePath = devicePath;
        // The chosen disk where it is now; never a disk that took its number.
        const std::string node = nodeForReading(devicePath);
        s.deviceHandle = node.empty() ? nullptr : SourceFile::open(node);
        s.deviceHandleOpened = true;
    }
    return s.deviceHandle;
}

// Reads the sectors of a failed run one at a time, from an unbuffered handle of its
// own so that every sector is judged by itself (the device's own handle when no
// other can be opened).
void readOneByOne(const SourceFile& device, uint64_t start, void* buffer, uint64_t count) {
    const auto own = SourceFile::open(device.path(), nullptr, SourceFile::Caching::Unbuffered);
    const SourceFile& source = own ? *own : device;
    for (uint64_t i = 0; i < count; ++i)
        if (!readRun(source, start + i, sectorAt(buffer, i), 1)) countUnreadable(1);
}

int32_t readDevice(uint64_t start, uint32_t count, void* buffer, const std::string& devicePath) {
    const std::shared_ptr<SourceFile> device = deviceHandleFor(devicePath);
    if (!device) {
        zeroUnreadable(buffer, count);
        return 0;
    }
    if (count <= kChunkSectors) {
        if (readRun(*device, start, buffer, count)) return 1;
        if (ask())
            readOneByOne(*device, start, buffer, count);
        else
            countUnreadable(count);
        return 0;
    }
    const uint64_t chunks = count / kChunkSectors;
    const uint64_t rest = count % kChunkSectors;
    int32_t result = 0;
    for (uint64_t j = 0; j < chunks; ++j) {
        const uint64_t first = start + j * kChunkSectors;
        void* dest = sectorAt(buffer, j * kChunkSectors);
        result = readRun(*device, first, dest, kChunkSectors) ? 1 : 0;
        if (result == 0) {
            if (ask())
                readOneByOne(*device, first, dest, kChunkSectors);
            else
                countUnreadable(kChunkSectors);
        }
    }
    if (rest > 0 && !readRun(*device, start + chunks * kChunkSectors,
                             sectorAt(buffer, chunks * kChunkSectors), rest)) {
        countUnreadable(rest);
        return 0;
    }
    return result;
}

}  // namespace

std::string imagePieceName(uint64_t piece) {
    return "image" + std::to_string(piece) + ".img";
}

int32_t readSectors(uint64_t start, uint32_t count, void* buffer, const std::string& devicePath) {
    Session& s = session();
    // Only the start is compared: a request that begins inside the range is read in full.
    const uint64_t rangeEnd = s.rangeEnd.load();
    if (rangeEnd > 0 && start > rangeEnd) {
        zeroSectors(buffer, count);
        return 0;
    }
    if (s.imageSource.load() != 0) return readImage(start, count, buffer);
    if (s.osFamily.load() == 'N') return readDevice(start, count, buffer, devicePath);
    zeroSectors(buffer, count);
    return 0;
}

int32_t tryReadSectors(uint64_t start, uint32_t count, void* buffer,
                       const std::string& devicePath) {
    tryingOnly = true;
    const int32_t result = readSectors(start, count, buffer, devicePath);
    tryingOnly = false;
    return result;
}

uint64_t unreadableSectors() {
    return unreadable.load(std::memory_order_relaxed);
}

void closeDeviceHandle() {
    Session& s = session();
    std::lock_guard lock(s.deviceHandleLock);
    s.deviceHandle.reset();
    s.deviceHandlePath.clear();
    s.deviceHandleOpened = false;
}

}  // namespace kestrum
