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
std::atomic<uint8_t> imagingMultiFile{0};

WorkerSlot& imagingThread() {
    static WorkerSlot slot;
    return slot;
}

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
bool removeCaseVariants(const std::string& folder, uint64_t k, const std::string& keep) {
    for (const std::string& variant :
         platform::findAllNoCase(folder, "Image" + std::to_string(k) + ".img")) {
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

std::string imagePiecePath(const std::string& folder, uint64_t piece) {
    return platform::joinPath(folder, "Image" + std::to_string(piece) + ".img");
}

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
        const uint64_t pieces = (endSector - startSector) / kPieceSectors + 1;
        for (uint64_t k = 0; k <= pieces; ++k) {
            // Leftover pieces are found without regard to case, so image1.IMG counts.
            if (sameFile(imagePiecePath(folder, k), sourceFile)) return true;
            for (const std::string& piece :
                 platform::findAllNoCase(folder, "Image" + std::to_string(k) + ".img"))
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

void ImagingRun::prepare(const std::string& folder, bool multiFile) {
    folder_ = folder;
    destinationPath_ = platform::joinPath(folder, "Image.img");
    imagingMultiFile.store(multiFile ? 1 : 0);
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
    working_.store(true);
    if (imagingThread().start([this] { work(); })) return true;
    working_.store(false);
    return false;
}

int ImagingRun::finish(ImagingOutcome outcome, platform::OutputFile* piece) {
    if (int error = 0; piece && !piece->close(&error) && outcome != ImagingOutcome::Failed) {
        failureReason.store(
            textf("Could not write %s: %s", lastFileName.load().c_str(), std::strerror(error)));
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
    const bool multiFile = imagingMultiFile.load() != 0;
    const SectorReader source = openSessionSource();
    const PageAlignedBuffer buffer(size_t{kCopySectors} * kSectorSize);
    if (buffer.data() == nullptr) {
        failureReason.store("Not enough memory");
        return finish(ImagingOutcome::Failed, nullptr);
    }
    removeStaleRescueMaps(folder_);
    const uint64_t zeroedBefore = sectorsZeroedOnThisThread();
    uint64_t s = startSector;
    uint64_t piece = 0;    // number of the next piece to open
    uint64_t inPiece = 0;  // sectors written to the open piece
    std::unique_ptr<platform::OutputFile> out;
    std::string piecePath;

    while (s < endSector) {
        if (s != startSector) pauseGate.pass();
        // Exactly the range: the first chunk too is cut to what is left.
        const uint32_t n =
            static_cast<uint32_t>(endSector - s < kCopySectors ? endSector - s : kCopySectors);
        source.read(s, n, buffer.data());
        zeroedSectors.store(sectorsZeroedOnThisThread() - zeroedBefore);

        if (!out || (multiFile && inPiece == kPieceSectors)) {
            int error = 0;
            if (out && !out->close(&error)) {
                failureReason.store(
                    textf("Could not write %s: %s", piecePath.c_str(), std::strerror(error)));
                return finish(ImagingOutcome::Failed, nullptr);
            }
            piecePath = imagePiecePath(folder_, piece);
            // The reader finds pieces without regard to case: a stale image0.img
            // beside the new Image0.img would be read instead of it.
            if (!removeCaseVariants(folder_, piece, piecePath)) {
                failureReason.store(textf("Could not remove an earlier %s", piecePath.c_str()));
                return finish(ImagingOutcome::Failed, nullptr);
            }
            // A leftover (also a read-only one, or a link) is replaced, never written through.
            out = platform::OutputFile::create(piecePath, &error);
            if (!out) {
                failureReason.store(
                    textf("Could not create %s: %s", piecePath.c_str(), std::strerror(error)));
                return finish(ImagingOutcome::Failed, nullptr);
            }
            ++piece;
            inPiece = 0;
        }

        int error = 0;
        if (!out->writeAll(buffer.data(), size_t{n} * kSectorSize, &error)) {
            failureReason.store(
                textf("Could not write %s: %s", piecePath.c_str(), std::strerror(error)));
            return finish(ImagingOutcome::Failed, out.get());
        }
        inPiece += n;
        s += n;
        currentSector.store(s);
        lastFileName.store(piecePath);
        // Also after the last chunk: a Stop the user confirmed is never reported as success.
        if (imagingStopRequested.load() != 0) return finish(ImagingOutcome::Aborted, out.get());
    }

    // Pieces of an earlier, longer image would be read back as part of this one.
    // The reader finds pieces without regard to case, so image3.img counts too.
    if (multiFile)
        for (uint64_t k = piece;; ++k) {
            const auto leftovers =
                platform::findAllNoCase(folder_, "Image" + std::to_string(k) + ".img");
            if (leftovers.empty() || !removeCaseVariants(folder_, k, {})) break;
        }
    currentSector.store(endSector);
    return finish(ImagingOutcome::Completed, out.get());
}

bool ImagingRun::stop(const std::function<bool()>& confirm) {
    if (!working()) return false;
    pauseGate.pause();
    const bool yes = confirm();
    if (yes) imagingStopRequested.store(1);
    pauseGate.resume();
    return yes;
}

std::string ImagingRun::currentSectorText() const {
    return textf("%llu / %llu", static_cast<unsigned long long>(currentSector.load()),
                 static_cast<unsigned long long>(endSector));
}

int ImagingRun::progressPercent() const {
    return kestrum::progressPercent(currentSector.load(), startSector, endSector);
}

std::string ImagingRun::finalMessage() const {
    switch (outcome()) {
        case ImagingOutcome::Completed:
            if (const uint64_t zeroed = zeroedSectors.load(); zeroed != 0)
                return zeroedSectorsText("Image creation completed", zeroed, "the image");
            return "Image creation completed successfully.";
        case ImagingOutcome::Aborted:
            return "Image creation aborted.";
        case ImagingOutcome::Failed:
            return "Image creation failed. " + failureReason.load() + ".";
        case ImagingOutcome::Running:
            break;
    }
    return "Process is running.";
}

MessageIcon ImagingRun::finalIcon() const {
    switch (outcome()) {
        case ImagingOutcome::Completed:
            return zeroedSectors.load() == 0 ? MessageIcon::Information : MessageIcon::Exclamation;
        case ImagingOutcome::Running:
            return MessageIcon::Exclamation;
        default:
            return MessageIcon::Error;
    }
}

void appendOutcomeLines(std::vector<std::string>& lines, ImagingOutcome outcome,
                        const std::string& failureReason) {
    switch (outcome) {
        case ImagingOutcome::Completed:
            lines.push_back("Disk Imaging Completed Successfully\r\n");
            break;
        case ImagingOutcome::Aborted:
            lines.push_back("Disk Imaging Aborted\r\n");
            break;
        case ImagingOutcome::Failed:
        case ImagingOutcome::Running:
            lines.push_back("Reason : " + failureReason);
            lines.push_back("Disk Imaging Failed\r\n");
            break;
    }
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

void ImagingRun::appendActivityLog() const {
    for (const std::string& line : activityLogLines()) appendLog(LogKind::Activity, line);
}

}  // namespace kestrum
