// Two-piece files and the bytes after a JPEG's end: the thorough scan's means of
// reassembling a file fragmented around others, and of keeping what follows a
// picture's end of image when a checked structure says it belongs to it.
//
// How the scan calls these (all reads go through the readers given, so every
// bound of the scan's range holds):
//
// - `medium` is the whole source seen from its first byte: for the scan,
//   SourceReader(cache, 0, cache.endSector() * 512, &stop). Offsets into it are
//   absolute bytes; sectors are 512 bytes.
// - JPEG: when a JPEG at sector S breaks off (the carver's partial length P) and
//   the scan has measured the file(s) found from the break on, call joinJpeg()
//   with resumeSector = the sector after the last of those files and
//   pieceEndHint = the sector where the first of them starts. Pass the intact
//   files measured after resumeSector in `taken` (they are never a
//   continuation). A result is the joined file: list it at S with joinSector,
//   firstPieceBytes and byteLength = length set (FileInfo; sectorCount =
//   (length + 511) / 512), and leave the files between the pieces listed as
//   they are; the scan goes on after the second piece. None: the JPEG stays
//   partial at P. An MP4 result is listed the same way.
// - A JPEG the carver measured whole should still pass decodeJpeg() (a reader
//   limited to its measured length) before it is listed whole: two pictures
//   written interleaved (A1 B1 A2 B2) make B1 + A2 a structurally whole picture
//   that does not decode. supported == false (lossless, 12-bit) keeps the
//   carver's verdict. The decode runs at some 80 MB/s for sequential pictures,
//   13 MB/s for progressive ones (2 busy cores). A file that fails is partial; the
//   decoder notices a wrong continuation only some way into it, so the scan
//   should treat its sectors as unchecked: a file found (or joined) inside them
//   ends it there, and a join for it may start after that.
// - MP4/MOV: checkMp4Join() reads the sample table of a faststart file (moov
//   before mdat) and checks every video sample where the table puts it. Call it
//   once with resumeSector 0: kIntact / kUnchecked need nothing more; kBroken
//   gives the file offset where samples stop checking out, so the scan can
//   measure the file(s) found there and call again with resumeSector after them.
// - jpegTrailerEnd(): given a JPEG's bytes and the offset just after its EOI,
//   how far the file really extends (pictures stored right after it, metadata
//   trailers).
//
// Bounds: the continuation is looked for at sector starts in
// [resumeSector, resumeSector + kJoinWindowSectors) (4 MiB), skipping sectors
// that do not read as entropy-coded data running to an end of image; a JPEG join
// tries at most kMaxPieceEnds ends of the first piece and stops after
// kMaxJoinDecodes decodes or kMaxJoinDecodeBytes bytes decoded (64 MiB, progressive
// bytes counted four times: about a second at most; a wrong piece of a sequential
// picture is given up at the seam, a right one is usually found at the first try). An MP4 join
// tries every shift in the window, each checked by a few samples' NAL chains before the whole table
// is checked.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "carve/ByteReader.h"

namespace kestrum::carve {

inline constexpr uint64_t kJoinWindowSectors = 8192;
inline constexpr int kMaxJoinDecodes = 512;
inline constexpr uint64_t kMaxJoinDecodeBytes = 64ull << 20;
inline constexpr int kMaxPieceEnds = 16;

// Sectors of a file the scan measured whole.
struct SectorSpan {
    uint64_t first = 0;
    uint64_t count = 0;
};

struct JoinRequest {
    uint64_t startSector = 0;  // the broken file's first sector
    // Bytes from the file's start that its structure vouched for (the partial
    // length); the first piece ends at a sector start at or before it.
    uint64_t breakAt = 0;
    // The sector after the interrupting file(s): the continuation starts here or
    // later. 0 for an MP4 whose break is not known yet.
    uint64_t resumeSector = 0;
    // Where the interrupting file starts, when the scan measured it: the first
    // piece ends exactly there. 0 = unknown; up to kMaxPieceEnds sector starts
    // before the break are tried.
    uint64_t pieceEndHint = 0;
    std::span<const SectorSpan> taken = {};
    // A scan-wide allowance of bytes decoded by joins: what the searches of the
    // whole scan have decoded so far, added to here, and the most they may. A
    // card full of broken pictures must not cost seconds for each of them.
    uint64_t* decodedSoFar = nullptr;
    uint64_t decodeAllowance = UINT64_MAX;
};

struct Joined {
    uint64_t firstPieceBytes = 0;  // a multiple of 512
    uint64_t joinSector = 0;
    uint64_t length = 0;  // the whole file's bytes
};

// Two runs of the medium read as one file: firstBytes from `first` on, then the
// rest from `second` on (absolute byte offsets).
class PiecedReader final : public ByteReader {
public:
    PiecedReader(ByteReader& medium, uint64_t first, uint64_t firstBytes, uint64_t second);
    uint64_t limit() const override { return limit_; }
    size_t read(uint64_t offset, void* out, size_t n) override;

private:
    ByteReader& medium_;
    uint64_t first_, firstBytes_, second_, limit_;
};

struct JpegDecode {
    bool clean = false;  // decoded to EOI, every MCU of the frame, no warning
    uint64_t end = 0;    // clean: bytes through the EOI marker
    // Not clean: how many bytes the decoder had taken when it complained (or
    // ran out). Wrong data is noticed only some way after it starts.
    uint64_t troubleAt = 0;
    // False when the library cannot decode this kind of picture (lossless,
    // 12-bit, beyond its memory bound): not clean, but no sign of damage either.
    bool supported = true;
    bool progressive = false;
};

// Decodes the JPEG at offset 0 of `file` (reduced in size: every coefficient is
// still decoded) with libjpeg-turbo. Any warning counts as not clean. With a
// seam (the offset where a second piece starts), the rows across it must also
// differ no more than rows as far apart anywhere else in the picture: a piece
// of another picture of the same size and tables can decode without a warning.
JpegDecode decodeJpeg(ByteReader& file, uint64_t seamAt = 0);

std::optional<Joined> joinJpeg(ByteReader& medium, const JoinRequest& q);

// How far a JPEG whose EOI ends at eoiEnd really extends: further pictures that
// start at the very next byte (not at a sector start, where the scan finds them
// itself) and measure whole, a preview the maker note places after the end, and
// AFCP / Photo Mechanic trailers, in any order. eoiEnd when none follows.
uint64_t jpegTrailerEnd(ByteReader& file, uint64_t eoiEnd);

struct Mp4Join {
    enum class Kind {
        kUnchecked,  // no moov before mdat, or no track whose samples can be checked
        kIntact,     // every checked sample is where the table puts it
        kBroken,     // samples stop checking out at breakAt; no continuation found (yet)
        kJoined,
    } kind = Kind::kUnchecked;
    uint64_t breakAt = 0;  // kBroken, kJoined: file offset of the first sample read that failed
    Joined join;           // kJoined
    int checkedSamples = 0;
};

Mp4Join checkMp4Join(ByteReader& medium, const JoinRequest& q);

}  // namespace kestrum::carve
