#include "imaging/RescueRun.h"

#include <sys/stat.h>

#include <algorithm>

#include "app/Session.h"
#include "disk/SectorReader.h"
#include "disk/SourceBinding.h"
#include "imaging/ImagingRun.h"
#include "imaging/RescueChecks.h"
#include "imaging/RescuePasses.h"
#include "platform/DeviceIdentity.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/PathSeparators.h"
#include "platform/PositionedFile.h"
#include "saving/DestinationCheck.h"
#include "saving/TextFormat.h"

namespace kestrum {
namespace {

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

}  // namespace

std::string sourceIdentityText(const std::string& sourcePath, uint64_t sourceBytes) {
    if (std::string disk = platform::identityRecordText(sourcePath); !disk.empty()) return disk;
    return "file; bytes=" + std::to_string(sourceBytes);
}

std::string defaultMapPath(const std::string& folder) {
    return platform::joinPath(folder, "Image0.map");
}

std::string rescueSourcePath(std::string* why) {
    const SourceSpec source = session().sourceSpec();
    if (!source.isImage()) {
        // The disk that was checked when it was chosen, never another one that
        // has taken its number since.
        const std::string node = nodeForReading(source.devicePath);
        if (node.empty() && why) *why = "The source device " + source.devicePath + " is not there.";
        return node;
    }
    if (source.kind == SourceSpec::Kind::ImageFile) return source.path;
    if (source.pieces) {
        if (why)
            *why = "Rescue mode reads a device or a single image file, not an image in pieces.";
        return {};
    }
    const auto found = source.firstImagePath();
    if (!found && why) *why = "There is no Image0.img in " + source.path + ".";
    return found.value_or(std::string{});
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
        const ImageLayout layout = imageLayout();
        uint64_t held = 0;
        for (uint64_t k = 0; k < layout.pieceCount(); ++k)
            if (const auto found = layout.findPiece(k))
                held += std::min(platform::allocatedBytes(*found), layout.pieceBytes(k));
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
    outcome_.store(ImagingOutcome::Running);
    working_.store(true);
    if (imagingThread().start([this] { work(); })) return true;
    working_.store(false);
    return false;
}

int RescueRun::work() {
    working_.store(true);
    outcome_.store(ImagingOutcome::Running);
    RescuePasses passes(*this);
    const ImagingOutcome outcome = passes.run();
    outcome_.store(outcome);
    working_.store(false);
    return outcome == ImagingOutcome::Completed ? 1 : 0;
}

ImageLayout RescueRun::imageLayout() const {
    return ImageLayout(settings_.folder, settings_.multiFile, rangeBytes());
}

bool RescueRun::replacesImage() const {
    return !platform::entryExists(mapPath_);
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
            return textf("Copying (pass %d of %d)", pass, kRescueCopyPasses);
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

std::vector<ImagingJob::StatusLine> RescueRun::statusLines() const {
    return {{"Current Pass : ", phaseText()}, {"Rescued / Bad : ", figuresText()}};
}

std::string RescueRun::rateText() const {
    return std::to_string(progressPercent()) + "%";
}

std::string RescueRun::terminalLine() const {
    return textf("\033[K%s  %3d%%  %s", phaseText().c_str(), progressPercent(),
                 figuresText().c_str());
}

std::vector<std::string> RescueRun::summaryLines() const {
    std::vector<std::string> lines{figuresText() + "; map " + mapPath_};
    if (std::string ddrescue = ddrescueContinuation(); !ddrescue.empty())
        lines.push_back(std::move(ddrescue));
    return lines;
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
                 imageLayout().piecePath(0).c_str(), mapPath_.c_str());
}

bool RescueRun::lostData() const {
    return bytesBad.load() != 0;
}

std::string RescueRun::completedMessage() const {
    if (bytesBad.load() == 0) return "Image creation completed successfully.";
    return textf(
        "Image creation completed. %llu bytes could not be read and are zeros in the image; the "
        "map %s lists them.",
        static_cast<unsigned long long>(bytesBad.load()), mapPath_.c_str());
}

std::string RescueRun::abortedMessage() const {
    return "Image creation aborted. Start it again with the same map to continue.";
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

std::vector<std::string> RescueRun::exitLines() const {
    std::vector<std::string> lines = activityLogLines();
    // Its own closing line says how the run ended; leaving the program is why.
    if (!lines.empty()) lines.pop_back();
    lines.push_back("Disk Imaging Interrupted (Exit)\r\n");
    return lines;
}

}  // namespace kestrum
