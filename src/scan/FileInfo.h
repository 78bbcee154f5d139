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
    // Holds sectors a rescue map calls unreadable (zeros in the image).
    bool damaged = false;
};

}  // namespace kestrum
