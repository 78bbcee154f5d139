#include "imaging/ImagingRun.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "app/Log.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/FileCopy.h"
#include "disk/SectorReader.h"
#include "disk/SourceBinding.h"
#include "imaging/PieceWriter.h"
#include "imaging/RescueMap.h"
#include "platform/Devices.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/OutputFile.h"
#include "platform/SourceFile.h"
#include "saving/DestinationCheck.h"
#include "saving/TextFormat.h"

namespace kestrum {

std::atomic<uint8_t> imagingStopRequested{0};

namespace {

using platform::sameFile;

// One request per megabyte: a piece (650 MiB) holds a whole number of them.
constexpr uint32_t kCopySectors = 2048;
static_assert(kPieceSectors % kCopySectors == 0);

constexpr const char* kPathNotFound = "Image path not found. Please specify image path.";
constexpr const char* kNoFreeSpace =
    "Insufficient free space on destination. Please change destination path.";
constexpr const char* kEmptyRange = "End sector should be bigger than start sector.";
constexpr const char* kOverwritesSource =
    "The destination folder holds the source image. Writing the image there would overwrite "
    "the data being copied. Please choose another folder.";

std::string cannotOpenSource(const std::string& path, const std::string& reason) {
    return textf("The source cannot be opened (%s: %s).", path.c_str(), reason.c_str());
}

// True when path is the file the session reads from (an image file of any name, or
// a plain file given as a device): such a file must never be replaced or deleted.
bool isTheSource(const std::string& path) {
    const SourceSpec source = session().sourceSpec();
    if (source.kind == SourceSpec::Kind::ImageFile) return sameFile(path, source.path);
    if (source.isImage()) return false;
    const std::string node = nodeForReading(source.devicePath);
    return !node.empty() && sameFile(path, node);
}

// Removes every spelling of piece k's name in folder except keep (the path about
// to be written, replaced by its own creation); false when one is the source or
// cannot be removed.
bool removeCaseVariants(const ImageLayout& layout, uint64_t k, const std::string& keep) {
    for (const std::string& variant : layout.spellingsOf(k)) {
        if (!keep.empty() && variant == keep) continue;
        if (isTheSource(variant) || !platform::removeEntry(variant)) return false;
    }
    return true;
}

// A rescue map beside the image describes the image this run replaces, and a
// later rescue would trust it over what this run writes. Only what reads as a
// map goes: a file of that name that is not one is the user's.
void removeStaleRescueMaps(const std::string& folder) {
    for (const std::string& map : platform::findAllNoCase(folder, "Image0.map"))
        if (loadRescueMap(map, nullptr)) platform::removeEntry(map);
}

}  // namespace

bool freeSpaceSuffices(uint64_t freeBytes, uint64_t neededBytes) {
    return freeBytes > neededBytes;
}

ImagingRun::ImagingRun(uint64_t start, uint64_t end)
    : startSector(start), endSector(end), currentSector(start) {}

ImagingRun::ImagingRun() : ImagingRun(session().rangeStart.load(), session().rangeEnd.load()) {}

std::string ImagingRun::checkStart(const std::string& folder) const {
    if (!platform::directoryExists(folder)) return kPathNotFound;
    if (endSector <= startSector) return kEmptyRange;

    // A source that cannot be opened would give an image of zeros.
    const SourceSpec source = session().sourceSpec();
    std::string error;
    // A plain file as the source: none of the pieces may be that file.
    auto writesOver = [&](const std::string& sourceFile) {
        const ImageLayout layout(folder, true);
        const uint64_t pieces = (endSector - startSector) / kPieceSectors + 1;
        for (uint64_t k = 0; k <= pieces; ++k) {
            // Leftover pieces are found without regard to case, so image1.IMG counts.
            if (sameFile(layout.piecePath(k), sourceFile)) return true;
            for (const std::string& piece : layout.spellingsOf(k))
                if (sameFile(piece, sourceFile)) return true;
        }
        return false;
    };
    if (source.kind == SourceSpec::Kind::ImageFile) {
        if (!platform::SourceFile::open(source.path, &error))
            return cannotOpenSource(source.path, error);
        if (writesOver(source.path)) return kOverwritesSource;
    } else if (source.kind == SourceSpec::Kind::ImageFolder) {
        const auto found = source.firstImagePath();
        if (!found) return cannotOpenSource(source.expectedImagePath(), std::strerror(ENOENT));
        if (!platform::SourceFile::open(*found, &error)) return cannotOpenSource(*found, error);
        if (sameFile(folder, source.path)) return kOverwritesSource;
    } else {
        if (std::string problem = boundSourceProblem(); !problem.empty()) return problem;
        const std::string& devicePath = source.devicePath;
        const std::string node = nodeForReading(devicePath);
        if (node.empty()) return cannotOpenSource(devicePath, std::strerror(ENODEV));
        const auto source = platform::SourceFile::open(node, &error);
        if (!source) return cannotOpenSource(node, error);
        if (!source->isBlockDevice() && writesOver(node)) return kOverwritesSource;
        if (std::string refusal = destinationOnSourceMessage(folder); !refusal.empty())
            return refusal;
    }

    const uint64_t needed = (endSector - startSector) * kSectorSize;
    if (!freeSpaceSuffices(platform::freeBytesOf(folder).value_or(0), needed)) return kNoFreeSpace;
    return {};
}

void ImagingRun::setDestination(const std::string& folder, bool multiFile) {
    folder_ = folder;
    multiFile_ = multiFile;
}

ImageLayout ImagingRun::imageLayout() const {
    return ImageLayout(folder_, multiFile_, (endSector - startSector) * kSectorSize);
}

void ImagingRun::prepare(const std::string& folder, bool multiFile) {
    setDestination(folder, multiFile);
    imagingStopRequested.store(0);
    currentSector.store(startSector);
    lastFileName.store({});
    failureReason.store({});
    outcome_.store(ImagingOutcome::Running);
    zeroedSectors.store(0);
    unreadableMark_ = unreadableMark();
}

bool ImagingRun::start(const std::string& folder, bool multiFile) {
    if (imagingThread().running()) return false;
    prepare(folder, multiFile);
    rate_.emplace(startSector, endSector);
    working_.store(true);
    if (imagingThread().start([this] { work(); })) return true;
    working_.store(false);
    return false;
}

int ImagingRun::finish(ImagingOutcome outcome, PieceWriter* pieces) {
    if (std::string why; pieces && !pieces->closeAll(why) && outcome != ImagingOutcome::Failed) {
        failureReason.store(why);
        outcome = ImagingOutcome::Failed;
    }
    // The image files just written may be read next: never through a handle of
    // an earlier file of their name.
    forgetSourceHandles();
    outcome_.store(outcome);
    working_.store(false);
    return outcome == ImagingOutcome::Completed ? 1 : 0;
}

int ImagingRun::work() {
    working_.store(true);
    if (folder_.empty()) {  // prepare() was not called: never write at the root
        failureReason.store("No destination folder");
        return finish(ImagingOutcome::Failed, nullptr);
    }
    const SectorReader source = openSessionSource();
    const PageAlignedBuffer buffer(size_t{kCopySectors} * kSectorSize);
    if (buffer.data() == nullptr) {
        failureReason.store("Not enough memory");
        return finish(ImagingOutcome::Failed, nullptr);
    }
    removeStaleRescueMaps(folder_);
    const uint64_t zeroedBefore = sectorsZeroedOnThisThread();
    // One piece open at a time, each replaced by its own creation, never written
    // through a leftover (also a read-only one, or a link).
    PieceWriter pieces(imageLayout(), {.fresh = true, .openMost = 1, .durable = false});
    pieces.beforeCreate = [&](uint64_t k, std::string& why) {
        // The reader finds pieces without regard to case: a stale image0.img
        // beside the new Image0.img would be read instead of it.
        if (removeCaseVariants(pieces.layout(), k, pieces.layout().piecePath(k))) return true;
        why = textf("Could not remove an earlier %s", pieces.layout().piecePath(k).c_str());
        return false;
    };

    for (uint64_t s = startSector; s < endSector;) {
        if (s != startSector) pauseGate.pass();
        // Exactly the range: the first chunk too is cut to what is left.
        const uint32_t n =
            static_cast<uint32_t>(endSector - s < kCopySectors ? endSector - s : kCopySectors);
        source.read(s, n, buffer.data());
        zeroedSectors.store(sectorsZeroedOnThisThread() - zeroedBefore);
        if (std::string why; !pieces.write((s - startSector) * kSectorSize, buffer.data(),
                                           size_t{n} * kSectorSize, why)) {
            failureReason.store(why);
            return finish(ImagingOutcome::Failed, &pieces);
        }
        s += n;
        currentSector.store(s);
        lastFileName.store(pieces.lastWritten());
        // Also after the last chunk: a Stop the user confirmed is never reported as success.
        if (imagingStopRequested.load() != 0) return finish(ImagingOutcome::Aborted, &pieces);
    }

    // Pieces of an earlier, longer image would be read back as part of this one.
    // The reader finds pieces without regard to case, so image3.img counts too.
    if (multiFile_)
        removeLeftoverPieces(pieces.layout(), pieces.layout().pieceCount(),
                             [](const std::string& piece) { return !isTheSource(piece); });
    currentSector.store(endSector);
    return finish(ImagingOutcome::Completed, &pieces);
}

void ImagingRun::requestStop() {
    imagingStopRequested.store(1);
}

std::string ImagingRun::currentSectorText() const {
    return textf("%llu / %llu", static_cast<unsigned long long>(currentSector.load()),
                 static_cast<unsigned long long>(endSector));
}

int ImagingRun::progressPercent() const {
    return kestrum::progressPercent(currentSector.load(), startSector, endSector);
}

std::vector<ImagingJob::StatusLine> ImagingRun::statusLines() const {
    return {{"Current Sector  : ", currentSectorText()},
            {"Last File Name : ", lastFileName.load()}};
}

std::string ImagingRun::rateText() const {
    return rate_ ? rate_->text(currentSector.load()) : std::string();
}

std::string ImagingRun::terminalLine() const {
    const ProgressRate rate = rate_.value_or(ProgressRate(startSector, endSector));
    return rate.terminalText(currentSector.load(), 0);
}

std::vector<std::string> ImagingRun::summaryLines() const {
    return {"Sectors copied: " + currentSectorText() + " into " + lastFileName.load()};
}

bool ImagingRun::lostData() const {
    return zeroedSectors.load() != 0;
}

std::string ImagingRun::completedMessage() const {
    if (const uint64_t zeroed = zeroedSectors.load(); zeroed != 0)
        return zeroedSectorsText("Image creation completed", zeroed, "the image");
    return "Image creation completed successfully.";
}

std::vector<std::string> ImagingRun::activityLogLines() const {
    std::vector<std::string> lines{
        "\r\nAnalysing Disk Imaging Information :",
        "Current Sector : " + currentSectorText(),
        "Last File : " + lastFileName.load(),
    };
    if (const std::string runs = unreadableRunsText(unreadableRunsSince(unreadableMark_));
        !runs.empty())
        lines.push_back(textf("Unreadable Sectors (zeros) : %llu (%s)",
                              static_cast<unsigned long long>(zeroedSectors.load()), runs.c_str()));
    if (outcome() == ImagingOutcome::Completed && zeroedSectors.load() != 0)
        lines.push_back("Disk Imaging Completed with Unreadable Sectors\r\n");
    else
        appendOutcomeLines(lines, outcome(), failureReason.load());
    return lines;
}

std::vector<std::string> ImagingRun::exitLines() const {
    const uint64_t copied = currentSector.load() - startSector;
    return {"\r\nAnalysing Disk Imaging Information :", "Current Sector : " + currentSectorText(),
            "Last File : " + lastFileName.load(), "Sectors Copied : " + std::to_string(copied),
            "Disk Imaging Interrupted (Exit)\r\n"};
}

}  // namespace kestrum
