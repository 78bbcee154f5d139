// MIDI carver: the header chunk names the track count; the file ends after that
// many "MTrk" chunks (chunks of other kinds in between are stepped over).
#include "carve/MidiCarver.h"

#include <array>
#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"MIDI"};

constexpr uint8_t kHeader[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};

bool quick(const uint8_t* s) {
    return std::memcmp(s, kHeader, sizeof kHeader) == 0;
}

bool printable(const uint8_t* id) {
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E) return false;
    return true;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[14];
    if (!r.readExact(0, h, sizeof h) || !quick(h)) return std::nullopt;
    const uint16_t format = be16(h + 8), tracks = be16(h + 10);
    const uint16_t division = be16(h + 12);
    if (format > 2 || tracks == 0 || (format == 0 && tracks != 1) || division == 0)
        return std::nullopt;

    const uint64_t limit = r.limit();
    uint64_t at = sizeof h;
    uint32_t found = 0;
    // Other chunk kinds are allowed between tracks, but not without end.
    for (uint32_t i = 0; found < tracks && i < tracks + 1024u; ++i) {
        uint8_t c[8];
        if (!r.readExact(at, c, sizeof c)) {
            if (found == 0) return std::nullopt;
            return Carved{"MIDI", at, true};
        }
        const bool track = std::memcmp(c, "MTrk", 4) == 0;
        // The first chunk after the header must be a track: the check beyond the magic.
        if (!printable(c) || (found == 0 && !track)) {
            if (found == 0) return std::nullopt;
            return Carved{"MIDI", at, true};
        }
        const uint32_t size = be32(c + 4);
        if (size > limit - at - 8) return Carved{"MIDI", limit, true};
        at += 8 + uint64_t{size};
        found += track;
    }
    return Carved{"MIDI", at, found < tracks};
}

}  // namespace

const CarverEntry& midiCarver() {
    static const CarverEntry kEntry{"MIDI", kTypes, quick, carve, "M"};
    return kEntry;
}

}  // namespace kestrum::carve
