// Structure-checked recognition and measurement of one format family, for the
// thorough scan. A carver is asked only at sector starts whose first bytes pass
// its quick test; it then either rejects the bytes (a look-alike) or names the
// catalogue type and the file's exact length.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "carve/ByteReader.h"

namespace kestrum::carve {

struct Carved {
    std::string_view type;  // a catalogue type name: "JPEG", "MP4", "NEF", ...
    uint64_t length = 0;    // bytes from the first one, > 0
    // The structure broke off (overwritten, fragmented, cut by the limit) before
    // its end: length covers the valid prefix only.
    bool partial = false;
    // How much of length the walk checked by structure; 0 = all of it. The rest
    // is payload that only the file's own directory vouches for (a raw's sensor
    // data): a file found starting inside it shows where this one really ended.
    uint64_t checkedLength = 0;
};

struct CarverEntry {
    std::string_view family;  // for logs and tests: "JPEG", "ISO base media", ...
    // Every catalogue type this family can class a file into.
    std::span<const std::string_view> types;
    // A cheap test of a sector's first 16 bytes (the sector's 512 bytes are
    // readable); true when carve() is worth asking.
    bool (*quick)(const uint8_t* sector);
    // Validates the header and walks the structure through r, whose offset 0 is
    // the sector's first byte. None for bytes that are not this family's file.
    // Must tolerate any bytes: bounded loops, no allocation sized by a field.
    std::optional<Carved> (*carve)(ByteReader& r);
    // Every first byte of a sector that quick() can accept; empty when any may
    // (a QuickTime atom starts with its size). The scan asks quick() only for
    // the families of the sector's first byte.
    std::string_view firstBytes = {};
};

// Every family, in the order the thorough scan tries them on a sector.
std::span<const CarverEntry> carvers();

}  // namespace kestrum::carve
