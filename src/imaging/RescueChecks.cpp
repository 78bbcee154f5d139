#include "imaging/RescueChecks.h"

#include <sys/stat.h>

#include <algorithm>

#include "disk/SectorReader.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/PathSeparators.h"
#include "platform/RecordFile.h"
#include "saving/TextFormat.h"

namespace kestrum {

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
    const ImageLayout layout(s.folder, s.multiFile, to - from);
    for (uint64_t k = 0; k < layout.pieceCount(); ++k) {
        const uint64_t a = from + (s.multiFile ? k * kPieceBytes : 0);
        const uint64_t b = a + layout.pieceBytes(k);
        const auto last = map.findBackward(rescue::kFinished, a, b);
        if (!last) continue;
        const auto found = layout.findPiece(k);
        if (!found)
            return lead + "records rescued data in " + layout.piecePath(k) +
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

std::string otherSource(const RescueMap& map, const std::string& now, const std::string& path) {
    if (map.sourceIdentity.empty() || map.sourceIdentity == now) return {};
    return "The map " + path + " belongs to another disk (" + map.sourceIdentity +
           "; the source now is " + now +
           "). Nothing was read. Give the disk the map was made of, or another map";
}

// A map path that would overwrite the data itself, or a record of another kind.
std::string mapPathProblem(const std::string& mapPath, const std::string& sourcePath) {
    if (ImageLayout::isPieceName(mapPath.substr(mapPath.find_last_of(platform::kPathSeparators) + 1)))
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

}  // namespace kestrum
