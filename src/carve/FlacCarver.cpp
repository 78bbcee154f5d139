// FLAC carver: the stream info block and the metadata blocks behind it, then the
// frames one by one. A frame's length is stored nowhere: it ends where the CRC-16
// run over its bytes closes and the next frame header (sync and CRC-8) begins, or
// where the stream info's sample count is reached.
#include "carve/FlacCarver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"FLAC"};
constexpr int kMaxBlocks = 4096;
constexpr uint64_t kMaxFrameGuess = uint64_t{1} << 21;  // 65535 samples x 8 x 32 bits, rounded
constexpr size_t kStep = 16384;

const std::array<uint8_t, 256>& crc8Table() {
    static const std::array<uint8_t, 256> t = [] {
        std::array<uint8_t, 256> out{};
        for (int i = 0; i < 256; ++i) {
            uint8_t c = static_cast<uint8_t>(i);
            for (int k = 0; k < 8; ++k) c = static_cast<uint8_t>(c & 0x80 ? c << 1 ^ 0x07 : c << 1);
            out[static_cast<size_t>(i)] = c;
        }
        return out;
    }();
    return t;
}

const std::array<uint16_t, 256>& crc16Table() {
    static const std::array<uint16_t, 256> t = [] {
        std::array<uint16_t, 256> out{};
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int k = 0; k < 8; ++k)
                c = static_cast<uint16_t>(c & 0x8000 ? c << 1 ^ 0x8005 : c << 1);
            out[static_cast<size_t>(i)] = c;
        }
        return out;
    }();
    return t;
}

struct FrameHeader {
    uint32_t length;     // header bytes, CRC-8 included
    uint32_t blockSize;  // samples per channel
};

// The frame header at p (n bytes readable) when its sync, fields and CRC-8 hold.
std::optional<FrameHeader> frameHeader(const uint8_t* p, size_t n) {
    if (n < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8) return std::nullopt;
    const uint8_t bsCode = p[2] >> 4, srCode = p[2] & 15;
    const uint8_t channels = p[3] >> 4, sampleSize = (p[3] >> 1) & 7;
    if (bsCode == 0 || srCode == 15 || channels > 10 || sampleSize == 3 || (p[3] & 1))
        return std::nullopt;
    size_t at = 4;
    // The frame or sample number, UTF-8 coded in up to 7 bytes.
    int extra = 0;
    if (p[at] >= 0xFE) {
        extra = p[at] == 0xFE ? 6 : -1;
    } else {
        for (uint8_t mask = 0x80; p[at] & mask; mask >>= 1) ++extra;
        extra = extra == 0 ? 0 : extra == 1 ? -1 : extra - 1;
    }
    if (extra < 0) return std::nullopt;
    const size_t tail = (bsCode == 6   ? 1
                         : bsCode == 7 ? 2
                                       : 0) +
                        (srCode == 12                     ? 1
                         : (srCode == 13 || srCode == 14) ? 2
                                                          : 0) +
                        1;
    if (at + 1 + extra + tail > n) return std::nullopt;
    for (int i = 1; i <= extra; ++i)
        if ((p[at + i] & 0xC0) != 0x80) return std::nullopt;
    at += 1 + extra;
    uint32_t blockSize = 0;
    if (bsCode == 1) {
        blockSize = 192;
    } else if (bsCode <= 5) {
        blockSize = 576u << (bsCode - 2);
    } else if (bsCode == 6) {
        blockSize = p[at++] + 1u;
    } else if (bsCode == 7) {
        blockSize = be16(p + at) + 1u;
        at += 2;
    } else {
        blockSize = 256u << (bsCode - 8);
    }
    at += srCode == 12 ? 1 : (srCode == 13 || srCode == 14) ? 2 : 0;
    uint8_t crc = 0;
    const auto& table = crc8Table();
    for (size_t i = 0; i < at; ++i) crc = table[crc ^ p[i]];
    if (crc != p[at]) return std::nullopt;
    return FrameHeader{static_cast<uint32_t>(at + 1), blockSize};
}

std::optional<FrameHeader> frameHeaderAt(ByteReader& r, uint64_t at) {
    uint8_t h[16];
    return frameHeader(h, r.read(at, h, sizeof h));
}

struct StreamInfo {
    uint32_t maxFrame;  // 0: not known
    uint64_t samples;   // 0: not known
};

std::optional<StreamInfo> streamInfo(const uint8_t* s) {
    const uint32_t minBlock = be16(s), maxBlock = be16(s + 2);
    const uint32_t rate = uint32_t{s[10]} << 12 | s[11] << 4 | s[12] >> 4;
    const uint32_t bits = ((s[12] & 1) << 4 | s[13] >> 4) + 1;
    if (minBlock < 16 || maxBlock < minBlock || rate == 0 || rate > 655350 || bits < 4)
        return std::nullopt;
    uint64_t samples = s[13] & 15;
    for (int i = 14; i < 18; ++i) samples = samples << 8 | s[i];
    return StreamInfo{be24(s + 7), samples};
}

bool quick(const uint8_t* s) {
    // The stream info block, 34 bytes, must come first.
    return std::memcmp(s, "fLaC", 4) == 0 && (s[4] & 0x7F) == 0 && s[5] == 0 && s[6] == 0 &&
           s[7] == 34;
}

// Whether nothing but zeros follows end up to the next sector boundary (the file
// starts on one): the slack a file system leaves behind a file's last byte.
bool slackFollows(ByteReader& r, uint64_t end) {
    const size_t n = static_cast<size_t>((512 - end % 512) % 512);
    uint8_t b[512];
    if (r.read(end, b, n) != n) return true;
    return std::all_of(b, b + n, [](uint8_t x) { return x == 0; });
}

// Where the frame at `at` ends: an offset where the CRC-16 run over the frame's
// bytes closes and the next frame header follows. The last frame has no header
// behind it: of the offsets where its CRC closes, the first followed by slack or
// the limit, else the first. None when no end comes within the frame size bound.
std::optional<uint64_t> frameEnd(ByteReader& r, uint64_t at, const FrameHeader& h, bool last,
                                 uint64_t maxFrame, std::vector<uint8_t>& buf) {
    const auto& table = crc16Table();
    uint16_t crc = 0;
    const uint64_t bound = std::min(r.limit(), at + maxFrame);
    std::optional<uint64_t> first;
    for (uint64_t pos = at; pos < bound;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kStep, bound - pos));
        buf.resize(want);
        const size_t got = r.read(pos, buf.data(), want);
        if (got == 0) break;
        for (size_t i = 0; i < got; ++i) {
            crc = static_cast<uint16_t>(crc << 8 ^ table[(crc >> 8) ^ buf[i]]);
            const uint64_t end = pos + i + 1;
            if (crc != 0 || end < at + h.length + 2) continue;
            if (!last) {
                if (end == r.limit() || frameHeaderAt(r, end)) return end;
                continue;
            }
            if (end == r.limit() || slackFollows(r, end)) return end;
            if (!first) first = end;
        }
        pos += got;
    }
    return first;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t head[42];
    if (!r.readExact(0, head, sizeof head) || !quick(head)) return std::nullopt;
    const auto info = streamInfo(head + 8);
    if (!info) return std::nullopt;

    // Metadata blocks: a header byte (last flag, type) and a 24-bit length.
    uint64_t off = 4;
    bool lastBlock = false;
    for (int i = 0; i < kMaxBlocks && !lastBlock; ++i) {
        uint8_t b[4];
        if (!r.readExact(off, b, 4)) return Carved{"FLAC", std::min(off, r.limit()), true};
        const uint8_t type = b[0] & 0x7F;
        if (type > 6) {
            if (i == 0) return std::nullopt;
            return Carved{"FLAC", off, true};
        }
        lastBlock = b[0] & 0x80;
        const uint64_t end = off + 4 + be24(b + 1);
        if (end > r.limit()) return Carved{"FLAC", r.limit(), true};
        off = end;
    }
    if (!lastBlock) return Carved{"FLAC", off, true};

    const uint64_t maxFrame = info->maxFrame ? info->maxFrame + 2 : kMaxFrameGuess;
    std::vector<uint8_t> buf;
    uint64_t samples = 0;
    for (;;) {
        const auto h = frameHeaderAt(r, off);
        if (!h) {
            // No frame where one was due: a stream of known length was cut short
            // here; one of unknown length simply ended.
            return Carved{"FLAC", off, info->samples != 0 && samples < info->samples};
        }
        const bool last = info->samples != 0 && samples + h->blockSize >= info->samples;
        const auto end = frameEnd(r, off, *h, last, maxFrame, buf);
        if (!end) return Carved{"FLAC", off, true};
        samples += h->blockSize;
        off = *end;
        if (last) return Carved{"FLAC", off, false};
    }
}

}  // namespace

const CarverEntry& flacCarver() {
    static const CarverEntry kEntry{"FLAC", kTypes, quick, carve, "f"};
    return kEntry;
}

}  // namespace kestrum::carve
