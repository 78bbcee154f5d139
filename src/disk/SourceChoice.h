// What the source page works out without a window: the listing of drives and
// disks (with the registry rebuild and the probe program), the facts shown for a
// drive, a disk or an image folder, the range boxes, and whether the chosen
// source can be read at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/ImageLayout.h"

namespace kestrum {

namespace platform {
struct LogicalDrive;
}

// A registry failure after which the process ends with exitCode; the user is
// told message first.
struct RegistryFailure {
    int exitCode = 0;
    std::string message;
};

struct SourceListing {
    std::vector<std::string> driveItems;     // "Local Disk (C:)", "DATA (D:)"
    std::vector<std::string> diskItems;      // "Disk0", "Disk1"
    std::vector<std::string> diskDetails;    // per disk: "Model, 29.7 GB" (either may be missing)
    std::optional<RegistryFailure> failure;  // the listing stopped there
    std::string probeProblem;                // why the probe listed no disks, for the user
};

// The tree's text for a drive: its label, else "Local Disk", then " (X:)".
std::string driveItemText(const platform::LogicalDrive& drive);

// Rebuilds the disk list in the registry store, lists the logical drives, runs
// the probe program at probePath and lists the disks it registered; with none
// listed it runs the probe once more. Runs on the page's worker.
SourceListing listSources(const std::string& probePath);

// The information list of a source and the end the range boxes get (the start
// box gets "0"); no end leaves the boxes empty.
struct SourceFacts {
    std::vector<std::string> lines;
    std::optional<uint64_t> endSector;
};

// A drive item ("DATA (D:)"): volume name, file system, capacity, used and free
// space. No lines when the drive is gone or its file system unknown.
SourceFacts driveFacts(const std::string& itemText);
// Disk n as the disk list in the registry store describes it.
SourceFacts diskFacts(int n);

// One large file is read whole; anything else is read as pieces.
bool readsAsPieces(const PiecesFound& pieces);

// The image item (the full path of its "Image0.img") as the session's source, read
// whole or as pieces as readsAsPieces tells; registers the image in the disk list
// as the next disk number, which it returns.
int selectImage(const std::string& imagePath);

// An image file of any name (.img, .dd, .raw, .iso, a ddrescue output) as the
// session's source, read whole; registers it as the next disk, whose number it
// returns.
int selectImageFile(const std::string& path);

// What tells a disk apart in the tree: its model and size as the disk list
// describes them ("Model, 29.7 GB"), empty when it knows neither.
std::string diskDetail(int n);

// A range box: a 64-bit sector number, blanks around it allowed.
std::optional<uint64_t> parseSectorBox(const std::string& text);
// The message for boxes that do not make a range, or empty (start and end set).
std::string checkRangeBoxes(const std::string& startText, const std::string& endText,
                            uint64_t& start, uint64_t& end);

// The session's source's size in sectors (an image's last partial sector counts),
// or nothing when it cannot be opened.
std::optional<uint64_t> sourceSectorCount();
// The message for a range that ends past a source of sizeSectors, or empty.
std::string checkRangeEnd(uint64_t end, uint64_t sizeSectors);

// Why the session's source cannot be read, as the message to show, with what
// would give access; empty when it opens. shown names it as the tree does.
std::string sourceOpenProblem(const std::string& shown);

}  // namespace kestrum
