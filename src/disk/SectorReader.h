// The one routine through which every byte of the source is read: a device by its
// "\\.\" path, the single image "Image0.img", or an image in numbered pieces.
#pragma once

#include <cstdint>
#include <string>

namespace kestrum {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kChunkSectors = 40;
constexpr uint64_t kPieceSectors = 1331200;  // 650 MiB
inline constexpr const char* kSingleImageName = "Image0.img";

// "image<k>.img", the name of piece k of a split image.
std::string imagePieceName(uint64_t piece);

// Reads count sectors from start into buffer (count x 512 bytes) from the source
// the session describes. Nonzero when the deciding read succeeded. Sectors that
// cannot be delivered are zeros, never stale bytes; a read error asks the
// front end's bad-sector question.
int32_t readSectors(uint64_t start, uint32_t count, void* buffer, const std::string& devicePath);

// As readSectors, for a read the caller repeats sector by sector when it fails:
// a read error is not asked about (the sectors are zeros) and nothing is counted.
int32_t tryReadSectors(uint64_t start, uint32_t count, void* buffer, const std::string& devicePath);

// Sectors zero-filled so far in this process because the source could not deliver
// them (read errors answered with skip, missing image pieces, a device that cannot
// be opened). Sectors past the end of an image are not counted.
uint64_t unreadableSectors();

// Forgets the cached device handle (tests; a new source chosen).
void closeDeviceHandle();

}  // namespace kestrum
