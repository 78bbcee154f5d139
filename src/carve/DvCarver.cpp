// Raw DV: fixed-size frames of 80-byte DIF blocks, 10 DIF sequences of 150
// blocks for 525-line (NTSC) video and 12 for 625-line (PAL). Each frame opens
// with a header block whose DSF bit names the system; frames are counted while
// each one opens like the first.
#include "carve/DvCarver.h"

#include <array>
#include <string_view>

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"DV"};
constexpr uint64_t kBlock = 80, kSequence = 150 * kBlock;

// Section type of the DIF block at p: 0 header, 1 subcode, 2 VAUX, 3 audio, 4 video.
int section(const uint8_t* p) {
    return p[0] >> 5;
}

// A header DIF block of sequence `seq`: ids 1F, seq<<4 | 07 (FSC 0, reserved bits
// set), block number 0; returns the DSF bit (1 = 625 lines) or -1.
int headerBlock(const uint8_t* p, int seq) {
    if (section(p) != 0 || (p[0] & 0x10) == 0 || (p[1] & 0x0F) != 0x07 || p[1] >> 4 != seq ||
        p[2] != 0)
        return -1;
    if ((p[3] & 0x7F) != 0x3F) return -1;  // bit 6 zero, reserved bits set
    return p[3] >> 7;
}

// The first six blocks of sequence `seq` at off: header, two subcode, three VAUX,
// then an audio and a video block.
bool sequenceStart(ByteReader& r, uint64_t off, int seq, int* dsf) {
    uint8_t b[8 * kBlock];
    if (!r.readExact(off, b, sizeof b)) return false;
    const int d = headerBlock(b, seq);
    if (d < 0) return false;
    static constexpr int kSections[8] = {0, 1, 1, 2, 2, 2, 3, 4};
    for (int i = 1; i < 8; ++i)
        if (section(b + i * kBlock) != kSections[i] || (b[i * kBlock + 1] >> 4) != seq)
            return false;
    *dsf = d;
    return true;
}

std::optional<Carved> carve(ByteReader& r) {
    int dsf = 0;
    if (!sequenceStart(r, 0, 0, &dsf)) return std::nullopt;
    // The second DIF sequence must follow the first: a lone header block is too little.
    int next = 0;
    if (!sequenceStart(r, kSequence, 1, &next) || next != dsf) return std::nullopt;
    const uint64_t frame = (dsf ? 12 : 10) * kSequence;

    uint64_t frames = 0;
    bool partial = false;
    const uint64_t limit = r.limit();
    for (;;) {
        const uint64_t at = frames * frame;
        if (at >= limit) break;
        int d = 0;
        if (!sequenceStart(r, at, 0, &d) || d != dsf) {
            partial = limit - at < 8 * kBlock;  // the limit cut the frame's first blocks
            break;
        }
        if (limit - at < frame) {
            partial = true;
            break;
        }
        ++frames;
    }
    if (frames == 0) return std::nullopt;
    Carved c{"DV", frames * frame, partial};
    // Each frame's header blocks are checked, its audio and video blocks are not:
    // newer bytes can only begin inside the last frame.
    markUnchecked(c, (frames - 1) * frame, c.length);
    return c;
}

bool quick(const uint8_t* s) {
    return headerBlock(s, 0) >= 0 && (s[kBlock] >> 5) == 1;
}

}  // namespace

const CarverEntry& dvCarver() {
    static const CarverEntry entry{
        "DV", kTypes, quick, carve,
        "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F"};
    return entry;
}

}  // namespace kestrum::carve
