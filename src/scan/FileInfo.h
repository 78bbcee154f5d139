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
};

// The bytes a saved or previewed copy of the file holds.
inline uint64_t fileBytes(const FileInfo& f) {
    return f.byteLength != 0 ? f.byteLength : uint64_t{f.sectorCount} * 512;
}

}  // namespace kestrum
