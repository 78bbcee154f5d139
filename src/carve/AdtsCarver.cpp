// ADTS carver: each frame's header holds its own length, so the frames chain;
// every header along the chain must repeat the first one's fixed fields.
#include "carve/AdtsCarver.h"

#include <array>
#include <cstring>

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"AAC"};
constexpr uint32_t kMaxFrames = 50'000'000;
constexpr int kMinFrames = 3;  // a shorter chain is as likely chance as a file

struct Header {
    uint32_t fixed;   // the fields every frame of a stream repeats
    uint32_t length;  // the frame's, header included
};

// The ADTS header at p: sync, layer 0, a real sampling rate index and a frame
// length that holds at least the header (9 bytes when a CRC follows it).
std::optional<Header> header(const uint8_t* p) {
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return std::nullopt;
    const uint8_t rate = (p[2] >> 2) & 15;
    const uint8_t channels = (p[2] & 1) << 2 | p[3] >> 6;
    if (rate > 12 || channels == 0) return std::nullopt;
    const uint32_t length = (p[3] & 3) << 11 | p[4] << 3 | p[5] >> 5;
    const uint32_t least = (p[1] & 1) ? 7 : 9;
    if (length < least + 1) return std::nullopt;
    // ID, protection, profile, rate and channels.
    const uint32_t fixed = uint32_t{p[1]} << 16 | uint32_t(p[2] & 0xFD) << 8 | (p[3] & 0xC0);
    return Header{fixed, length};
}

bool quick(const uint8_t* s) {
    return header(s).has_value();
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[7];
    if (!r.readExact(0, h, 7)) return std::nullopt;
    const auto first = header(h);
    if (!first) return std::nullopt;
    uint64_t off = 0;
    uint32_t frames = 0;
    bool partial = false;
    for (; frames < kMaxFrames; ++frames) {
        const size_t got = r.read(off, h, 7);
        if (got == 0) break;  // the limit, right at a frame's end
        const auto next = got == 7 ? header(h) : std::nullopt;
        if (!next || next->fixed != first->fixed) {
            partial = got < 7 && off + got == r.limit();
            break;
        }
        if (off + next->length > r.limit()) {
            partial = true;
            break;
        }
        off += next->length;
    }
    // A chain the limit cuts or ends may be the whole file even when short.
    if (frames < kMinFrames && off != r.limit() && !partial) return std::nullopt;
    if (frames == 0) return std::nullopt;
    return Carved{"AAC", off, partial || frames >= kMaxFrames};
}

}  // namespace

const CarverEntry& adtsCarver() {
    static const CarverEntry kEntry{"AAC (ADTS)", kTypes, quick, carve, "\xFF"};
    return kEntry;
}

}  // namespace kestrum::carve
