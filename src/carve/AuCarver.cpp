// AU carver: data offset plus data size. A writer that could not seek back leaves
// the size unknown; then the samples are kept up to the reader's limit (the
// user's size ceiling), cut to whole sample frames, and the file is marked partial.
#include "carve/AuCarver.h"

#include <array>
#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"AU"};

constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

// Bytes per sample of the encodings whose size is fixed; 0 for the others.
uint32_t sampleBytes(uint32_t encoding) {
    switch (encoding) {
        case 1:
        case 2:
        case 27:
            return 1;  // mu-law, 8-bit linear, A-law
        case 3:
            return 2;
        case 4:
            return 3;
        case 5:
        case 6:
            return 4;
        case 7:
            return 8;
        default:
            return 0;
    }
}

bool saneHeader(const uint8_t* s) {
    const uint32_t offset = be32(s + 4), encoding = be32(s + 12), rate = be32(s + 16),
                   channels = be32(s + 20);
    return std::memcmp(s, ".snd", 4) == 0 && offset >= 24 && offset <= 1024 * 1024 &&
           encoding >= 1 && encoding <= 27 && rate >= 1 && rate <= 1'000'000 && channels >= 1 &&
           channels <= 256;
}

bool quick(const uint8_t* s) {
    return saneHeader(s);
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[24];
    if (!r.readExact(0, h, sizeof h) || !saneHeader(h)) return std::nullopt;
    const uint64_t offset = be32(h + 4), size = be32(h + 8);
    const uint64_t limit = r.limit();
    if (offset > limit) return std::nullopt;
    if (size == kUnknownSize) {
        const uint64_t frame = uint64_t{sampleBytes(be32(h + 12))} * be32(h + 20);
        const uint64_t data = limit - offset;
        Carved open{"AU", offset + (frame ? data - data % frame : data), true};
        markUnchecked(open, offset, open.length);
        open.openEnded = open.checkedLength != 0;
        return open;
    }
    // The samples after the header are checked by nothing.
    const uint64_t end = offset + size;
    Carved c{"AU", std::min(end, limit), end > limit};
    markUnchecked(c, offset, c.length);
    return c;
}

}  // namespace

const CarverEntry& auCarver() {
    static const CarverEntry kEntry{"AU", kTypes, quick, carve, "."};
    return kEntry;
}

}  // namespace kestrum::carve
