// AMR carver: after the magic, each frame's first byte names its mode and so its
// size; the frames run until a byte that is no frame header.
#include "carve/AmrCarver.h"

#include <array>
#include <cstring>

#include "carve/NextFile.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"AMR"};
constexpr uint32_t kMaxFrames = 100'000'000;

// Frame sizes by mode, header byte included; 0 for a mode no frame has.
constexpr std::array<uint8_t, 16> kNarrow{13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
constexpr std::array<uint8_t, 16> kWide{18, 24, 33, 37, 41, 47, 51, 59, 61, 6, 0, 0, 0, 0, 1, 1};

constexpr std::string_view kNarrowMagic = "#!AMR\n";
constexpr std::string_view kWideMagic = "#!AMR-WB\n";

bool quick(const uint8_t* s) {
    return std::memcmp(s, kNarrowMagic.data(), kNarrowMagic.size()) == 0 ||
           std::memcmp(s, kWideMagic.data(), kWideMagic.size()) == 0;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t head[9];
    if (!r.readExact(0, head, sizeof head) || !quick(head)) return std::nullopt;
    const bool wide = std::memcmp(head, kWideMagic.data(), kWideMagic.size()) == 0;
    const auto& sizes = wide ? kWide : kNarrow;
    uint64_t off = wide ? kWideMagic.size() : kNarrowMagic.size();
    uint32_t frames = 0;
    bool partial = false;
    for (; frames < kMaxFrames; ++frames) {
        const auto b = r.u8(off);
        if (!b) break;
        // Padding bits 0, and the quality bit set: recorders mark every frame they
        // write good, and zeros (slack) are then no frames.
        const uint8_t size = sizes[(*b >> 3) & 15];
        if ((*b & 0x87) != 0x04 || size == 0) break;
        if (off + size > r.limit()) {
            partial = true;
            break;
        }
        // A frame header byte is a weak mark: a frame that would reach into a
        // sector where another file starts is that file's bytes, not speech.
        const uint64_t sector = (off + size - 1) / 512 * 512;
        if (sector >= off && sector > 0 && otherFileStartsAt(r, sector, amrCarver())) break;
        off += size;
    }
    if (frames == 0 && off != r.limit()) return std::nullopt;  // a magic and no speech
    return Carved{"AMR", off, partial || frames >= kMaxFrames};
}

}  // namespace

const CarverEntry& amrCarver() {
    static const CarverEntry kEntry{"AMR", kTypes, quick, carve, "#"};
    return kEntry;
}

}  // namespace kestrum::carve
