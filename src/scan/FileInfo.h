// One found file: where it starts on the source and how many sectors it has.
#pragma once

#include <cstdint>

namespace kestrum {

struct FileInfo {
    char extName[5] = {};    // type name, NUL-terminated
    char fileName[27] = {};  // "File%d.%s", NUL-terminated
    uint64_t startSector = 0;
    uint32_t sectorCount = 0;
    int32_t checked = 0;
    uint64_t byteLength = 0;  // exact length in bytes; 0 = sectorCount x 512
    bool partial = false;     // only the valid prefix of a broken or cut file
    // Holds sectors a rescue map calls unreadable (zeros in the image).
    bool damaged = false;
    // Reassembled from two pieces (a file fragmented around others): the first
    // firstPieceBytes bytes from startSector, the rest from joinSector on.
    // joinSector 0 = one piece (a second piece always lies after the first).
    uint64_t joinSector = 0;
    uint64_t firstPieceBytes = 0;
};

// The bytes a saved or previewed copy of the file holds.
inline uint64_t fileBytes(const FileInfo& f) {
    return f.byteLength != 0 ? f.byteLength : uint64_t{f.sectorCount} * 512;
}

inline bool isJoined(const FileInfo& f) {
    return f.joinSector != 0;
}

// A run of the source's bytes that belongs to a found file.
struct FileExtent {
    uint64_t startSector = 0;
    uint64_t bytes = 0;
};

// The source's bytes that make up the file, in order: one extent, or two for a
// joined file. Copies (saving, previews) read exactly these.
struct FileExtents {
    FileExtent piece[2];
    int count = 1;
};

inline FileExtents fileExtents(const FileInfo& f) {
    FileExtents e;
    const uint64_t total = fileBytes(f);
    if (!isJoined(f) || f.firstPieceBytes == 0 || f.firstPieceBytes >= total) {
        e.piece[0] = {f.startSector, total};
        return e;
    }
    e.piece[0] = {f.startSector, f.firstPieceBytes};
    e.piece[1] = {f.joinSector, total - f.firstPieceBytes};
    e.count = 2;
    return e;
}

}  // namespace kestrum
