// MPEG program streams are walked pack by pack through the packet lengths, so
// only headers are read. A video elementary stream has no lengths: its start
// codes are scanned, and the rules of the video syntax (slice rows within the
// picture height, no run of zero bytes except before a start code) tell where
// its bytes stop when no sequence end code closes it.
#include "carve/MpegCarver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 2> kTypes{"MPEG", "VOB"};
constexpr int kMaxUnits = 16'000'000;  // packs + packets, or start codes

// A cached block of the medium, so the thousands of small header reads of a
// long stream become a few large ones.
class Window {
public:
    explicit Window(ByteReader& r) : r_(r), buf_(4096) {}

    // Points p at up to n bytes at off (n <= 64) and returns how many exist there.
    size_t get(uint64_t off, size_t n, const uint8_t*& p) {
        if (off < base_ || off - base_ + n > len_) {
            // Small reads first, so a look-alike costs little; larger ones as the
            // walk goes on.
            base_ = off;
            len_ = r_.read(off, buf_.data(), buf_.size());
            if (buf_.size() < kSize) buf_.resize(buf_.size() * 2);
        }
        p = buf_.data() + (off - base_);
        return std::min<uint64_t>(n, len_ - (off - base_));
    }

private:
    static constexpr size_t kSize = 256 * 1024;
    ByteReader& r_;
    std::vector<uint8_t> buf_;
    uint64_t base_ = 0;
    size_t len_ = 0;
};

bool startCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// ---- program stream ----

struct Pack {
    int version = 0;  // 1 or 2
    uint32_t length = 0;
    uint64_t scr = 0;  // system clock reference base, 90 kHz
};

// The pack header at p (at least 14 bytes readable when MPEG-2, 12 when MPEG-1),
// with every marker bit in place and a non-zero mux rate.
std::optional<Pack> packAt(const uint8_t* p, size_t n) {
    if (n < 12 || !startCode(p) || p[3] != 0xBA) return std::nullopt;
    Pack k;
    if ((p[4] & 0xC0) == 0x40) {
        if (n < 14) return std::nullopt;
        if (!(p[4] & 0x04) || !(p[6] & 0x04) || !(p[8] & 0x04) || !(p[9] & 0x01) ||
            (p[12] & 0x03) != 0x03)
            return std::nullopt;
        if ((p[10] | p[11] | (p[12] & 0xFC)) == 0) return std::nullopt;
        k.version = 2;
        k.length = 14 + (p[13] & 0x07);
        k.scr = uint64_t(p[4] >> 3 & 7) << 30 | uint64_t(p[4] & 3) << 28 | uint64_t(p[5]) << 20 |
                uint64_t(p[6] >> 3) << 15 | uint64_t(p[6] & 3) << 13 | uint64_t(p[7]) << 5 |
                p[8] >> 3;
    } else if ((p[4] & 0xF1) == 0x21) {
        if (!(p[6] & 0x01) || !(p[8] & 0x01) || !(p[9] & 0x80) || !(p[11] & 0x01))
            return std::nullopt;
        if (((p[9] & 0x7F) | p[10] | (p[11] & 0xFE)) == 0) return std::nullopt;
        k.version = 1;
        k.length = 12;
        k.scr = uint64_t(p[4] >> 1 & 7) << 30 | uint64_t(p[5]) << 22 | uint64_t(p[6] >> 1) << 15 |
                uint64_t(p[7]) << 7 | p[8] >> 1;
    } else {
        return std::nullopt;
    }
    return k;
}

std::optional<Carved> carveProgram(ByteReader& r) {
    Window w(r);
    const uint64_t limit = r.limit();
    const uint8_t* p;
    size_t n = w.get(0, 14, p);
    const auto first = packAt(p, n);
    if (!first) return std::nullopt;

    uint64_t off = 0, prevScr = first->scr, last = 0;
    bool cut = false, nav = false;
    int packets = 0;  // system headers and packets, not packs
    for (int units = 0; units < kMaxUnits; ++units) {
        if (off >= limit) break;
        n = w.get(off, 16, p);
        if (n < 4) {
            cut = true;  // a start code broken by the limit
            break;
        }
        if (!startCode(p)) break;
        const uint8_t code = p[3];
        uint64_t length;
        if (code == 0xBA) {
            const auto pack = packAt(p, n);
            if (!pack) {
                cut = n < 14;
                break;
            }
            // Clocks only run forward within one stream: a clock behind the last
            // one is the next recording's first pack.
            if (pack->version != first->version || pack->scr < prevScr) break;
            if (first->version == 2) {
                if (n < pack->length) break;
                bool stuffed = true;
                for (uint32_t i = 14; i < pack->length; ++i) stuffed = stuffed && p[i] == 0xFF;
                if (!stuffed) {
                    if (off == 0) return std::nullopt;
                    break;
                }
            }
            prevScr = pack->scr;
            length = pack->length;
        } else if (code == 0xB9) {
            off += 4;
            break;
        } else if (code >= 0xBB) {
            if (n < 6) {
                cut = true;
                break;
            }
            length = 6 + (uint32_t{p[4]} << 8 | p[5]);
            // DVD navigation packets: private stream 2 carrying PCI (0) or DSI (1).
            if (code == 0xBF && n > 6 && p[6] <= 1) nav = true;
            ++packets;
        } else {
            break;
        }
        last = off;
        if (length > limit - off) {
            off = limit;
            cut = true;
            break;
        }
        off += length;
    }
    if (packets == 0) return std::nullopt;  // a pack header alone proves nothing
    // Many muxers leave out the end code: a stream that stops on a packet boundary
    // is taken as whole; only the limit cutting a packet makes it partial.
    Carved c{nav ? "VOB" : "MPEG", off, cut};
    // Every pack and packet header is checked: newer bytes can only start inside
    // the last packet.
    markUnchecked(c, last, off);
    return c;
}

// ---- video elementary stream ----

struct Sequence {
    uint32_t width = 0, height = 0;
};

std::optional<Sequence> sequenceAt(const uint8_t* p) {
    if (!startCode(p) || p[3] != 0xB3) return std::nullopt;
    Sequence s;
    s.width = uint32_t{p[4]} << 4 | p[5] >> 4;
    s.height = uint32_t{p[5] & 0x0Fu} << 8 | p[6];
    const int aspect = p[7] >> 4, rate = p[7] & 0x0F;
    const uint32_t bitRate = uint32_t{p[8]} << 10 | uint32_t{p[9]} << 2 | p[10] >> 6;
    const bool marker = p[10] & 0x20;
    if (s.width == 0 || s.height == 0 || aspect == 0 || aspect == 15 || rate == 0 || rate > 8 ||
        bitRate == 0 || !marker)
        return std::nullopt;
    return s;
}

std::optional<Carved> carveElementary(ByteReader& r) {
    uint8_t head[16];
    if (!r.readExact(0, head, 12)) return std::nullopt;
    const auto seq = sequenceAt(head);
    if (!seq) return std::nullopt;
    // Slice start codes number the macroblock row; taller pictures extend it.
    const uint32_t rows = seq->height > 2800 ? 0xAF : (seq->height + 15) / 16;
    constexpr uint64_t kMaxGap = 2 * 1024 * 1024;  // no slice or header is this long
    constexpr uint64_t kMaxZeros = 64 * 1024;

    const uint64_t limit = r.limit();
    std::vector<uint8_t> buf(4096);  // grows as the stream proves itself
    uint64_t lastCode = 0, end = 0;
    bool done = false, partial = false, inPicture = false;
    int codes = 0, pictures = 0, units = 0;
    uint32_t row = 0;
    uint64_t zeros = 0;  // zero bytes just before the current position
    int skip = 0;        // a start code's code byte still to pass over
    uint64_t off = 4;
    while (!done) {
        const size_t got = r.read(off, buf.data(), buf.size());
        if (got == 0) {
            // The limit: trailing zeros are slack, anything else a cut stream.
            end = zeros >= 3 ? off - zeros : limit;
            partial = zeros < 3;
            break;
        }
        for (size_t i = 0; i < got && !done; ++i) {
            if (skip > 0) {
                --skip;
                continue;
            }
            const uint8_t b = buf[i];
            const uint64_t at = off + i;
            if (b == 0) {
                // Stuffing before a start code is short; a long run is free space,
                // not worth reading to the limit.
                if (++zeros == kMaxZeros) {
                    end = at + 1 - zeros;
                    done = true;
                }
                continue;
            }
            if (b != 1 || zeros < 2) {
                if (zeros >= 3) {  // zero run not ending in a start code: the bytes stop
                    end = at - zeros;
                    done = true;
                } else if (at - lastCode > kMaxGap) {
                    end = lastCode;
                    partial = true;
                    done = true;
                }
                zeros = 0;
                continue;
            }
            zeros = 0;
            // A start code 00 00 01 ends at `at`; its code byte follows.
            uint8_t code;
            if (i + 1 < got) {
                code = buf[i + 1];
            } else {
                const auto c = r.u8(at + 1);
                if (!c) {
                    end = limit;
                    partial = true;
                    done = true;
                    break;
                }
                code = *c;
            }
            const uint64_t codeAt = at - 2;
            bool valid = true;
            if (code == 0x00) {
                inPicture = true;
                ++pictures;
                row = 0;
            } else if (code <= 0xAF) {
                valid = inPicture && code <= rows && code >= row;
                row = code;
            } else if (code == 0xB7) {
                end = codeAt + 4;
                done = true;
                break;
            } else if (code == 0xB3 || code == 0xB8) {
                inPicture = false;
            } else if (code != 0xB2 && code != 0xB5 && code != 0xB4) {
                valid = false;
            }
            // The first unit after the sequence header must be one that may follow it.
            if (codes == 0 && code != 0xB5 && code != 0xB8 && code != 0xB2 && code != 0x00)
                return std::nullopt;
            if (!valid || ++units > kMaxUnits) {
                end = codeAt;
                done = true;
                partial = valid;  // the unit cap, not the stream, ended the walk
                break;
            }
            ++codes;
            skip = 1;
            lastCode = codeAt;
        }
        if (!done && got < buf.size()) {
            end = zeros >= 3 ? off + got - zeros : off + got;
            partial = zeros < 3;
            break;
        }
        off += got;
        if (buf.size() < 256 * 1024) buf.resize(buf.size() * 2);
    }
    if (pictures == 0) return std::nullopt;
    Carved c{"MPEG", end, partial};
    // Start codes are checked, the coded data between them is not.
    markUnchecked(c, lastCode, end);
    return c;
}

std::optional<Carved> carve(ByteReader& r) {
    const auto code = r.u8(3);
    if (code == 0xBA) return carveProgram(r);
    if (code == 0xB3) return carveElementary(r);
    return std::nullopt;
}

bool quick(const uint8_t* s) {
    return startCode(s) && (s[3] == 0xBA || s[3] == 0xB3);
}

}  // namespace

const CarverEntry& mpegCarver() {
    static const CarverEntry entry{"MPEG", kTypes, quick, carve, std::string_view("\0", 1)};
    return entry;
}

}  // namespace kestrum::carve
