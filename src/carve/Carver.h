// Structure-checked recognition and measurement of one format family, for the
// thorough scan. A carver is asked only at sector starts whose first bytes pass
// its quick test; it then either rejects the bytes (a look-alike) or names the
// catalogue type and the file's exact length.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "carve/ByteReader.h"

namespace kestrum::carve {

struct Carved {
    std::string_view type;  // a catalogue type name: "JPEG", "MP4", "NEF", ...
    uint64_t length = 0;    // bytes from the first one, > 0
    // The structure broke off (overwritten, fragmented, cut by the limit) before
    // its end: length covers the valid prefix only.
    bool partial = false;
    // Only a checked structure may hide a sector. checkedLength is where the
    // payload that no structure vouches for begins (0 = the walk checked all of
    // length); uncheckedEnd is where that payload ends (0 = at length), so a
    // checked tail (a movie box after its media data, a picture's trailers) keeps
    // what it holds. Every carver whose file holds bytes it did not check (sample
    // data, pixels, sensor data, entropy-coded data) sets checkedLength: the scan
    // looks at every sector start in [checkedLength, uncheckedEnd), and a file
    // found there that measures whole ends this one at that sector, partial.
    // A format that chains its pieces by checked headers (frames, packets, chunks)
    // marks only its last piece: newer bytes could begin nowhere else. One whose
    // pieces carry checksums (Ogg pages) marks nothing. Use markUnchecked().
    uint64_t checkedLength = 0;
    uint64_t uncheckedEnd = 0;
    // The length is no measure of where the file ends: its payload runs on with
    // no size (a recording cut by power loss). The scan ends it before the next
    // file found in it or after the last sector holding any data; set partial too.
    bool openEnded = false;
    // Offsets, inside the unchecked payload and on sector boundaries, where the
    // file's own index puts a piece of its content (a motion-JPEG frame in a movie):
    // a file found there is part of this one. Sorted; at most kMaxOwnStarts.
    std::vector<uint64_t> ownStarts;
};

inline constexpr size_t kMaxOwnStarts = 65536;

// Sets the unchecked payload of c to [from, to) when it is a real span inside the
// file; the checked prefix is never empty, so from > 0 always holds.
inline void markUnchecked(Carved& c, uint64_t from, uint64_t to) {
    to = std::min(to, c.length);
    if (from == 0 || from >= to) return;
    c.checkedLength = from;
    c.uncheckedEnd = to == c.length ? 0 : to;
}

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
