#include "scan/DamageMark.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>

#include "app/Reports.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "imaging/RescueRun.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/PathSeparators.h"
#include "saving/TextFormat.h"

namespace kestrum {

namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of(platform::kPathSeparators);
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool isImageOfMap(const std::string& source, const std::string& mapPath) {
    const std::string folder = platform::directoryExists(source) ? source : folderOf(source);
    return platform::sameFile(folder, folderOf(mapPath));
}

uint64_t mapSectorOffset(const RescueMap& map, bool scanningItsImage) {
    unsigned long long first = 0;
    if (scanningItsImage &&
        std::sscanf(map.imageOrigin.c_str(), "source sector %llu is image byte 0", &first) == 1)
        return first;
    return 0;
}

std::optional<uint64_t> scannedMapOffset(const RescueMap& map, const std::string& mapPath,
                                         const std::string& scanned, std::string* why) {
    const uint64_t origin = mapSectorOffset(map, true);
    if (origin == 0) return 0;  // image and source positions agree
    // The disk first: it may lie in the map's folder too.
    if (const std::string path = rescueSourcePath(nullptr);
        !path.empty() && !map.sourceIdentity.empty()) {
        struct stat st {};
        const uint64_t bytes = ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
        if (sourceIdentityText(path, bytes) == map.sourceIdentity) return 0;
    }
    if (isImageOfMap(scanned, mapPath)) return origin;
    if (why)
        *why =
            textf("The map %s belongs to an image that starts at source sector %" PRIu64
                  ", so its positions are %" PRIu64
                  " sectors ahead of that image's; %s is neither that image beside its map nor the "
                  "disk the map was made of (%s). Put the map beside its image (as Image0.map) and "
                  "scan the image, or scan that disk.",
                  mapPath.c_str(), origin, origin, scanned.c_str(),
                  map.sourceIdentity.empty() ? "not recorded" : map.sourceIdentity.c_str());
    return std::nullopt;
}

std::vector<FileInfo> markDamaged(FoundFileList& found, const RescueMap& map, uint64_t offset) {
    std::vector<FileInfo> damaged;
    found.forEach([&](FileInfo& f) {
        const uint64_t from = (f.startSector + offset) * kSectorSize;
        f.damaged = map.anyUnfinished(from, from + uint64_t{f.sectorCount} * kSectorSize);
        if (f.damaged) damaged.push_back(f);
    });
    return damaged;
}

bool overUnreadableSectors(const FileInfo& f) {
    const FileExtents extents = fileExtents(f);
    for (int e = 0; e < extents.count; ++e) {
        const uint64_t sectors = (extents.piece[e].bytes + kSectorSize - 1) / kSectorSize;
        if (holdsUnreadable(extents.piece[e].startSector, sectors)) return true;
    }
    return false;
}

std::vector<std::string> damageLogLines(const std::string& mapPath,
                                        const std::vector<FileInfo>& damaged) {
    std::vector<std::string> lines{"Rescue Map : " + mapPath,
                                   textf("Damaged Files : %zu", damaged.size())};
    for (const FileInfo& f : damaged)
        lines.push_back(textf("Damaged : %s (sectors %" PRIu64 " to %" PRIu64
                              ") holds unreadable sectors",
                              f.fileName, f.startSector, f.startSector + f.sectorCount));
    return lines;
}

std::optional<std::string> mapBesideImage(const std::string& imageFolder) {
    if (imageFolder.empty()) return std::nullopt;
    return platform::findFileNoCase(imageFolder, "Image0.map");
}

size_t markDamagedBesideSessionImage() {
    Session& s = session();
    const SourceSpec source = s.sourceSpec();
    if (source.kind != SourceSpec::Kind::ImageFolder) return 0;
    const auto path = mapBesideImage(source.path);
    if (!path) return 0;
    const auto map = loadRescueMap(*path, nullptr);
    if (!map) return 0;
    const auto damaged = markDamaged(s.foundFiles, *map, mapSectorOffset(*map, true));
    appendLines(LogKind::Activity, damageLogLines(*path, damaged));
    return damaged.size();
}

}  // namespace kestrum
