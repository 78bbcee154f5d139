// AIFF carver: a sane COMM chunk among the first chunks of the FORM, whose size
// gives the length; the chunk walk confirms the chunks fill it.
#include "carve/AiffCarver.h"

#include <array>
#include <cstring>

#include "carve/ByteOrder.h"
#include "carve/ChunkWalk.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"AIFF"};

bool quick(const uint8_t* s) {
    return std::memcmp(s, "FORM", 4) == 0 &&
           (std::memcmp(s + 8, "AIFF", 4) == 0 || std::memcmp(s + 8, "AIFC", 4) == 0);
}

// Channels, sample size and the 80-bit extended sample rate (between 1 Hz and
// a few MHz: exponent 16383..16405, integer bit set).
bool saneCommon(ByteReader& r, const ChunkHeader& c, bool compressed) {
    if (c.size < (compressed ? 22u : 18u) || c.size > 4096) return false;
    uint8_t b[18];
    if (!r.readExact(c.body(), b, sizeof b)) return false;
    const uint16_t channels = be16(b);
    const uint16_t sampleSize = be16(b + 6);
    const uint16_t exponent = be16(b + 8);
    return channels >= 1 && channels <= 1024 && sampleSize >= 1 && sampleSize <= 64 &&
           exponent >= 16383 && exponent <= 16405 && (b[10] & 0x80);
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[12];
    if (!r.readExact(0, h, sizeof h) || !quick(h)) return std::nullopt;
    const uint32_t formSize = be32(h + 4);
    if (formSize < 4 + 8 + 18) return std::nullopt;
    const bool compressed = h[11] == 'C';
    bool common = false;
    uint32_t seen = 0;
    uint64_t sound = 0, soundEnd = 0;  // the samples: nothing checks them
    const uint64_t end = uint64_t{8} + formSize;
    const ChunkWalk w = walkChunks(r, 12, end, true, [&](const ChunkHeader& c) {
        if (c.is("SSND") && sound == 0) sound = c.body(), soundEnd = c.body() + c.size;
        if (common) return true;
        if (++seen > 8 || c.is("SSND")) return false;
        if (!c.is("COMM")) return true;
        common = saneCommon(r, c, compressed);
        return common;
    });
    if (!common || w.stop == ChunkStop::Rejected) return std::nullopt;
    Carved out{"AIFF", w.end, w.stop != ChunkStop::End};
    if (!out.partial && (formSize & 1) && out.length < r.limit()) ++out.length;
    markUnchecked(out, sound, soundEnd);
    return out;
}

}  // namespace

const CarverEntry& aiffCarver() {
    static const CarverEntry kEntry{"AIFF", kTypes, quick, carve, "F"};
    return kEntry;
}

}  // namespace kestrum::carve
