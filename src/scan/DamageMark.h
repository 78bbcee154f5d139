// Marks found files that hold sectors a rescue map calls unreadable: their bytes
// there are zeros in the rescued image, so the file is likely broken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/RescueMap.h"
#include "scan/FoundFileList.h"

namespace kestrum {

// The source sector that sector 0 of the scanned medium is, by the map: its own
// image's first sector when the medium is that image, else 0 (the source itself).
uint64_t mapSectorOffset(const RescueMap& map, bool scanningItsImage);

// True when source (an image folder or file) lies beside the map: it is the
// image the map was written with.
bool isImageOfMap(const std::string& source, const std::string& mapPath);

// The offset (as mapSectorOffset) for scanning `scanned`, the session's source,
// with the map at mapPath: the image's first source sector when scanned is the
// image beside the map, 0 when it is the disk the map records. Nullopt with the
// reason when the map's image does not start at sector 0 and scanned is neither.
std::optional<uint64_t> scannedMapOffset(const RescueMap& map, const std::string& mapPath,
                                         const std::string& scanned, std::string* why);

// Sets `damaged` on every found file with a sector that the map does not call
// rescued; returns those files.
std::vector<FileInfo> markDamaged(FoundFileList& found, const RescueMap& map, uint64_t offset);

// True when a sector of the file's extents was zeroed by the reader because the
// source could not deliver it: such a file is never called whole.
bool overUnreadableSectors(const FileInfo& f);

// The activity-log block naming the map and the damaged files.
std::vector<std::string> damageLogLines(const std::string& mapPath,
                                        const std::vector<FileInfo>& damaged);

// "Image0.map" in the folder of an image source, when it is there.
std::optional<std::string> mapBesideImage(const std::string& imageFolder);

// After a scan of an image folder that holds a rescue map: marks the session's
// found files and writes the damage block to the activity log. The number of
// damaged files; 0 without a readable map.
size_t markDamagedBesideSessionImage();

}  // namespace kestrum
