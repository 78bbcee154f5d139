#include "disk/SourceChoice.h"

#include <cctype>
#include <charconv>
#include <filesystem>

#include "app/Session.h"
#include "disk/DiskList.h"
#include "disk/SectorReader.h"
#include "disk/SizeText.h"
#include "disk/SourceBinding.h"
#include "platform/DeviceAccess.h"
#include "platform/Devices.h"
#include "platform/Folders.h"
#include "platform/PathSeparators.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/SourceFile.h"

namespace kestrum {
namespace {

using platform::Registry;
constexpr auto kRoot = platform::RegistryRoot::ClassesRoot;
constexpr uint64_t kSingleFileLimit = kPieceSectors * kSectorSize;  // 681,574,400 bytes

RegistryFailure cannotWrite(int exitCode, const Registry& registry) {
    return {exitCode, "The list of disks cannot be written into the registry store (" +
                          registry.lastError() + "). The program ends now."};
}

// Empties the disk list and creates its key again; false when that fails.
bool clearDiskList(Registry& registry) {
    for (const char* property : kDiskPropertyNames)
        if (registry.keyExists(kRoot, diskPropertyKey(property)))
            registry.deleteKey(kRoot, diskPropertyKey(property));
    if (registry.keyExists(kRoot, kDisplayDeviceKey)) registry.deleteKey(kRoot, kDisplayDeviceKey);
    if (registry.keyExists(kRoot, kDiskListKey)) registry.deleteKey(kRoot, kDiskListKey);
    if (registry.keyExists(kRoot, kDiskListKey))
        for (int n = 0; n < kMaxListedDisks; ++n)
            if (registry.readValue(kRoot, kDiskListKey, diskValueName(n)))
                registry.deleteValue(kRoot, kDiskListKey, diskValueName(n));
    return registry.createKey(kRoot, kDiskListKey);
}

// What the user is told when the probe program failed; empty when it did not.
std::string probeFailure(const std::string& probePath, int status, const std::string& error,
                         const std::string& output) {
    if (status == 0) return {};
    std::string reason = status < 0 ? error : "it ended with status " + std::to_string(status);
    std::string said = output;
    while (!said.empty() && std::isspace(static_cast<unsigned char>(said.back()))) said.pop_back();
    if (!said.empty()) reason += ": " + said;
    return "The disks cannot be listed: the probe program " + probePath + " failed (" + reason +
           ").";
}

// Creates the keys, runs the probe and lists what it registered. False when the
// process must end (listing.failure says why); a missing probe only stops it.
bool listDisks(Registry& registry, const std::string& probePath, SourceListing& listing) {
    if (!registry.createKey(kRoot, kDiskListKey)) return true;
    for (const char* property : kDiskPropertyNames)
        if (!registry.createKey(kRoot, diskPropertyKey(property))) {
            listing.failure = cannotWrite(1, registry);
            return false;
        }
    if (!platform::fileExists(probePath)) {
        listing.probeProblem = "The probe program " + probePath +
                               " is missing: the disks cannot be listed. Reinstall the program.";
        return true;
    }
    std::string probeError, probeOutput;
    const int status =
        platform::runProgramAndWait(probePath, {probePath, ""}, &probeError, &probeOutput);
    listing.probeProblem = probeFailure(probePath, status, probeError, probeOutput);
    if (!registry.keyExists(kRoot, kDiskListKey)) {
        std::string detail = "the key \"" + std::string(kDiskListKey) + "\" is missing";
        if (status < 0)
            detail += "; " + probeError;
        else if (status != 0)
            detail += "; the probe program ended with status " + std::to_string(status);
        listing.failure = {0, "The list of disks cannot be read from the registry store " +
                                  registry.filePath() + " (" + detail + "). The program ends now."};
        return false;
    }
    listing.diskItems.clear();
    listing.diskDetails.clear();
    for (int n : listedDisks(registry)) {
        listing.diskItems.push_back(diskValueName(n));
        listing.diskDetails.push_back(diskDetail(n));
    }
    return true;
}

std::optional<uint64_t> parseDecimal(const std::string& text) {
    uint64_t value = 0;
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front())))
        return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string driveItemText(const platform::LogicalDrive& drive) {
    return (drive.label.empty() ? std::string("Local Disk") : drive.label) + " (" + drive.letter +
           ":)";
}

SourceListing listSources(const std::string& probePath) {
    SourceListing listing;
    Registry registry;
    if (!clearDiskList(registry)) {
        listing.failure = cannotWrite(0, registry);
        return listing;
    }
    for (const platform::LogicalDrive& drive : platform::logicalDrives())
        if (drive.letter != 'A' && drive.letter != 'B')
            listing.driveItems.push_back(driveItemText(drive));
    if (!listDisks(registry, probePath, listing)) return listing;
    if (listing.diskItems.empty()) {
        // Once more, whether or not the probe is there (as a disk that was still
        // spinning up may be there now).
        platform::runProgramAndWait(probePath, {probePath, ""});
        listDisks(registry, probePath, listing);
    }
    return listing;
}

SourceFacts driveFacts(const std::string& itemText) {
    SourceFacts facts;
    if (itemText.size() < 4) return facts;
    const char letter =
        static_cast<char>(std::toupper(static_cast<unsigned char>(itemText[itemText.size() - 3])));
    for (const platform::LogicalDrive& drive : platform::logicalDrives()) {
        if (drive.letter != letter) continue;
        if (drive.fileSystem.empty()) return facts;
        const uint64_t used = drive.totalBytes - std::min(drive.freeBytes, drive.totalBytes);
        facts.lines = {"Volume Name : " + itemText.substr(0, itemText.size() - 4),
                       "File System : " + drive.fileSystem,
                       "Capacity : " + sizeText(drive.totalBytes), "Used Space : " + sizeText(used),
                       "Free Space : " + sizeText(drive.freeBytes)};
        facts.endSector = drive.totalBytes / kSectorSize;
        return facts;
    }
    return facts;
}

SourceFacts diskFacts(int n) {
    SourceFacts facts;
    if (n < 0) return facts;
    const DiskEntry entry = readDiskEntry(Registry(), n);
    const uint64_t size = parseDecimal(entry.size).value_or(0);
    facts.lines = {"Physical Disk Number : " + std::to_string(n),
                   "Model   : " + entry.model,
                   "Media Type   : " + entry.mediaType,
                   "Cylinder   : " + entry.cylinder,
                   "Head   : " + entry.head,
                   "Sectors Per Track   : " + entry.sectorsPerTrack,
                   "Disk Size  : " + std::to_string(size / 1048576) + " MB"};
    facts.endSector = size / kSectorSize;
    return facts;
}

ImagePieces countImagePieces(const std::string& folder) {
    ImagePieces pieces;
    for (;; ++pieces.count) {
        const auto piece = platform::findFileNoCase(folder, imagePieceName(pieces.count));
        if (!piece) break;
        std::error_code ec;
        const auto bytes = std::filesystem::file_size(*piece, ec);
        if (!ec) pieces.totalBytes += bytes;
    }
    return pieces;
}

bool readsAsPieces(const ImagePieces& pieces) {
    return !(pieces.totalBytes > kSingleFileLimit && pieces.count == 1);
}

int selectImage(const std::string& imagePath) {
    Session& s = session();
    const size_t nameLength = std::string(kSingleImageName).size();
    const std::string folder =
        imagePath.size() >= nameLength ? imagePath.substr(0, imagePath.size() - nameLength) : "";
    const ImagePieces pieces = countImagePieces(folder);
    s.imageFolder.store(folder);
    s.imageFile.store({});
    s.imageSplit.store(readsAsPieces(pieces) ? 1 : 0);
    s.imageSource.store(1);
    Registry registry;
    const int n = static_cast<int>(listedDisks(registry).size());
    writeDiskProperties(registry, n, entryForSize(pieces.totalBytes, imagePath, "Image"));
    return n;
}

int selectImageFile(const std::string& path) {
    Session& s = session();
    const auto file = platform::SourceFile::open(path);
    const uint64_t bytes = file ? file->size() : 0;
    const size_t slash = path.find_last_of(platform::kPathSeparators);
    s.imageFolder.store(slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
    s.imageFile.store(path);
    s.imageSplit.store(0);
    s.imageSource.store(1);
    Registry registry;
    const int n = static_cast<int>(listedDisks(registry).size());
    writeDiskProperties(registry, n, entryForSize(bytes, path, "Image"));
    return n;
}

std::string diskDetail(int n) {
    const DiskEntry entry = readDiskEntry(Registry(), n);
    std::string model = entry.model;
    while (!model.empty() && std::isspace(static_cast<unsigned char>(model.back())))
        model.pop_back();
    const uint64_t size = parseDecimal(entry.size).value_or(0);
    if (size == 0) return model;
    return model.empty() ? sizeText(size) : model + ", " + sizeText(size);
}

std::optional<uint64_t> parseSectorBox(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    return parseDecimal(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

std::string checkRangeBoxes(const std::string& startText, const std::string& endText,
                            uint64_t& start, uint64_t& end) {
    const auto startValue = parseSectorBox(startText);
    if (!startValue) return "Start sector is not valid.";
    const auto endValue = parseSectorBox(endText);
    if (!endValue) return "End sector is not valid.";
    if (*endValue <= *startValue) return "End sector should be bigger than start sector.";
    start = *startValue;
    end = *endValue;
    return {};
}

std::optional<uint64_t> sourceSectorCount() {
    const Session& s = session();
    uint64_t bytes = 0;
    if (const std::string named = s.imageFile.load(); s.imageSource.load() != 0 && !named.empty()) {
        const auto file = platform::SourceFile::open(named);
        if (!file) return std::nullopt;
        bytes = file->size();
    } else if (s.imageSource.load() != 0 && s.imageSplit.load() != 0) {
        const ImagePieces pieces = countImagePieces(s.imageFolder.load());
        if (pieces.count == 0) return std::nullopt;
        bytes = pieces.totalBytes;
    } else if (s.imageSource.load() != 0) {
        const auto found = platform::findFileNoCase(s.imageFolder.load(), kSingleImageName);
        const auto file = found ? platform::SourceFile::open(*found) : nullptr;
        if (!file) return std::nullopt;
        bytes = file->size();
    } else {
        const std::string node = nodeForReading(s.selectedDevicePath());
        const auto device = node.empty() ? nullptr : platform::SourceFile::open(node);
        if (!device) return std::nullopt;
        bytes = device->size();
    }
    return (bytes + kSectorSize - 1) / kSectorSize;
}

std::string checkRangeEnd(uint64_t end, uint64_t sizeSectors) {
    if (end <= sizeSectors) return {};
    if (sizeSectors == 0) return "The source is empty (0 sectors): there is nothing to read.";
    return "The Ending Range " + std::to_string(end) +
           " lies past the end of the source, which has " + std::to_string(sizeSectors) +
           " sectors. Enter an Ending Range of at most " + std::to_string(sizeSectors) + ".";
}

std::string sourceOpenProblem(const std::string& shown) {
    const Session& s = session();
    if (const std::string named = s.imageFile.load(); s.imageSource.load() != 0 && !named.empty()) {
        const std::string problem = platform::openProblem(named);
        return problem.empty() ? problem
                               : "The image " + named + " cannot be opened for reading: " + problem;
    }
    if (s.imageSource.load() != 0) {
        const std::string folder = s.imageFolder.load();
        const std::string name = s.imageSplit.load() != 0 ? imagePieceName(0) : kSingleImageName;
        const std::string path =
            platform::findFileNoCase(folder, name).value_or(platform::joinPath(folder, name));
        const std::string problem = platform::openProblem(path);
        return problem.empty() ? problem
                               : "The image " + path + " cannot be opened for reading: " + problem;
    }
    const std::string devicePath = s.selectedDevicePath();
    const std::string node = nodeForReading(devicePath);
    if (node.empty())
        return shown + " cannot be opened for reading: there is no device " + devicePath +
               " any more. Attach the medium and choose it again.";
    const std::string problem = platform::openProblem(node);
    return problem.empty() ? problem
                           : shown + " (" + node + ") cannot be opened for reading: " + problem;
}

}  // namespace kestrum
