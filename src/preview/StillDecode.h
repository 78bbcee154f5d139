// Pictures Qt's image readers cannot open: HEIF and AVIF stills (decoded by
// libheif) and camera raws (the preview image the raw holds, or its sensor data
// developed by LibRaw when it holds none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrum {

struct DecodedStill {
    // Either a picture file Qt can read (a raw's embedded JPEG) ...
    std::vector<uint8_t> encoded;
    // ... or 8-bit RGBA pixels, rows packed.
    std::vector<uint8_t> rgba;
    int width = 0;
    int height = 0;
};

// None when the bytes are neither a HEIF/AVIF still nor a raw LibRaw knows, or
// when decoding fails (a partial file may well fail).
std::optional<DecodedStill> decodeStill(const uint8_t* data, size_t size);

}  // namespace kestrum
