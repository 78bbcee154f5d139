#include "SourceArg.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

#include "app/Session.h"
#include "disk/SectorReader.h"
#include "disk/SizeText.h"
#include "disk/SourceBinding.h"
#include "disk/SourceChoice.h"
#include "platform/DeviceAccess.h"
#include "platform/Devices.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/SourceFile.h"

namespace kestrum::cli {
namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";

std::string readHint(int err, const std::string& path) {
    // Root refused is told as such: a policy above the permission checks forbids it.
    const std::string hint = platform::accessHintFor(err, path);
    return hint.empty() ? " Check the name and that the medium is attached." : " " + hint;
}

// The drive mounted exactly at folder, if any: its files are not what is scanned.
std::optional<platform::LogicalDrive> driveMountedAt(const std::string& folder) {
    for (const platform::LogicalDrive& d : platform::logicalDrives())
        if (platform::sameFile(d.mountPoint, folder)) return d;
    return std::nullopt;
}

bool openable(const std::string& shown, const std::string& path, uint64_t* bytes,
              std::string& error) {
    std::string reason;
    int err = 0;
    const auto file =
        platform::SourceFile::open(path, &reason, platform::SourceFile::Caching::Normal, &err);
    if (!file) {
        // A refusal by the disk service already says what to do.
        error = "Cannot read the source " + shown + ": " + reason +
                (err == 0 ? std::string() : "." + readHint(err, path));
        return false;
    }
    if (bytes) *bytes = file->size();
    return true;
}

std::vector<std::string> imageLines(const std::string& model, uint64_t bytes) {
    return {"Model   : " + model,
            "Media Type   : Image",
            "Cylinder   : " + std::to_string(bytes / 512 / 16065),
            "Head   : 255",
            "Sectors Per Track   : 63",
            "Disk Size  : " + std::to_string(bytes / 1048576) + " MB"};
}

// Makes spec the source, named as the source page's tree names it.
void choose(const SourceSpec& spec, SourceInfo& info, const char* parent, const std::string& item) {
    session().chooseSource(spec);
    info.parentText = parent;
    info.itemText = item;
}

bool selectImageFolder(const std::string& folder, SourceInfo& info, std::string& error) {
    const auto first = platform::findFileNoCase(folder, kSingleImageName);
    if (!first) {
        if (const auto drive = driveMountedAt(folder)) {
            error = folder + " is where the drive " + drive->deviceNode +
                    " is mounted. Files are recovered from the device itself, not from its "
                    "folders: scan " +
                    drive->deviceNode + " (kestrum-recover scan " + drive->deviceNode + ").";
            return false;
        }
        error = "No \"Image0.img\" in " + folder +
                ". Choose the folder that holds the image file or its pieces.";
        return false;
    }
    // Each piece opened as the reader will open it: one it cannot read is refused now.
    PiecesFound pieces = ImageLayout::countPieces(folder);
    pieces.totalBytes = 0;
    for (const std::string& piece : pieces.paths) {
        uint64_t pieceBytes = 0;
        if (!openable(piece, piece, &pieceBytes, error)) return false;
        pieces.totalBytes += pieceBytes;
    }
    const uint64_t total = pieces.totalBytes;
    choose(SourceSpec::imageFolder(folder, readsAsPieces(pieces)), info, "Select Image", *first);
    info.infoLines = imageLines(*first, total);
    info.sizeSectors = (total + kSectorSize - 1) / kSectorSize;
    info.image = true;
    return true;
}

void describeDevice(SourceInfo& info, const std::string& node, uint64_t bytes) {
    info.infoLines = {"Device : " + node, "Disk Size  : " + sizeText(bytes)};
    info.sizeSectors = bytes / kSectorSize;
}

}  // namespace

bool selectSource(const std::string& source, SourceInfo& info, std::string& error) {
    info = SourceInfo{};
    closeDeviceHandle();
    unbindSource();
    if (source.rfind(kDevicePrefix, 0) == 0) {
        const std::string node = platform::resolveDevicePath(source);
        if (node.empty()) {
            error = "There is no device " + source +
                    ". Run \"kestrum-recover devices\" to see the drives and disks.";
            return false;
        }
        uint64_t bytes = 0;
        if (!openable(source + " (" + node + ")", node, &bytes, error)) return false;
        const std::string rest = source.substr(4);
        if (rest.rfind("PhysicalDrive", 0) == 0) {
            const int n = std::atoi(rest.c_str() + 13);
            if (n < 0 || n >= static_cast<int>(kDeviceSlotCount)) {
                error = "Only disks 0 to 9 can be read by number; give the device node instead.";
                return false;
            }
            choose(SourceSpec::disk(n), info, "Select Disk", "Disk" + std::to_string(n));
        } else {
            choose(SourceSpec::device(source), info, "Select Logical Drive", source);
        }
        describeDevice(info, node, bytes);
        return true;
    }

    if (!platform::fileExists(source) && !platform::directoryExists(source)) {
        error = "The source " + source +
                " does not exist. Give an image file, a folder holding "
                "\"Image0.img\", or a device.";
        return false;
    }
    if (platform::directoryExists(source)) return selectImageFolder(source, info, error);

    uint64_t bytes = 0;
    if (!openable(source, source, &bytes, error)) return false;
    info.image = !platform::isBlockDevice(source);
    if (info.image) {
        // Read as an image: whole batches at a time, no device chunking.
        choose(SourceSpec::imageFile(source), info, "Select Image", source);
        info.infoLines = imageLines(source, bytes);
        info.sizeSectors = (bytes + kSectorSize - 1) / kSectorSize;
    } else {
        choose(SourceSpec::device(source), info, "Select Disk", source);
        describeDevice(info, source, bytes);
    }
    return true;
}

bool parseRange(const std::string& text, uint64_t sizeSectors, uint64_t& start, uint64_t& end,
                std::string& error) {
    start = 0;
    end = sizeSectors;
    // Else an empty source would be told that its end must lie past its start.
    if (sizeSectors == 0) {
        error = "The source is empty (0 sectors): there is nothing to read.";
        return false;
    }
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        error = "The range \"" + text + "\" is not START:END (sector numbers, END exclusive).";
        return false;
    }
    auto number = [](const std::string& part, uint64_t& out) {
        if (part.empty()) return true;
        const auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), out);
        return ec == std::errc() && ptr == part.data() + part.size();
    };
    if (!number(text.substr(0, colon), start)) {
        error = "Start sector is not valid.";
        return false;
    }
    if (!number(text.substr(colon + 1), end)) {
        error = "End sector is not valid.";
        return false;
    }
    if (end <= start) {
        error = "End sector should be bigger than start sector.";
        return false;
    }
    if (end > sizeSectors) {
        error = "The range ends at sector " + std::to_string(end) + " but the source has only " +
                std::to_string(sizeSectors) + " sectors; give an END of at most " +
                std::to_string(sizeSectors) + ".";
        return false;
    }
    return true;
}

void commitSource(WorkMode mode, const SourceInfo& info, uint64_t start, uint64_t end) {
    session().rangeStart = start;
    session().rangeEnd = end;
    appendLines(LogKind::Activity, sourceBlock(mode, info.parentText, info.itemText, info.infoLines,
                                               std::to_string(start), std::to_string(end)));
}

}  // namespace kestrum::cli
