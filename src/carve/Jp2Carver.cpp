// JPEG 2000: a JP2/JPX file is its signature box, a file-type box with a known
// brand, then top-level boxes by their lengths; the file ends where the next
// bytes are no known box. A codestream box of length 0 (and a bare codestream)
// is walked instead: main header segments, then tile-parts by their lengths to
// the end-of-codestream marker.
#include "carve/Jp2Carver.h"

#include <array>
#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::string_view kTypes[] = {"JP2"};
constexpr uint8_t kSignature[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
constexpr int kMaxBoxes = 100000;
constexpr int kMaxSegments = 1000000;

bool add(uint64_t a, uint64_t b, uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}

constexpr std::array<const char*, 25> kTopLevel{
    "jP  ", "ftyp", "jp2h", "jp2i", "xml ", "uuid", "uinf", "jp2c", "rreq",
    "ftbl", "asoc", "nlst", "bfil", "drep", "dtbl", "cref", "jpch", "jplh",
    "cgrp", "res ", "lbl ", "free", "mhdr", "page", "pagt"};

bool topLevel(const uint8_t* type) {
    for (const char* t : kTopLevel)
        if (std::memcmp(type, t, 4) == 0) return true;
    return false;
}

enum class Stop { kEnd, kLimit, kBroken };

struct Walked {
    Stop stop;
    uint64_t at;  // after the end marker, the limit, or where the walk broke
    bool pastMainHeader = false;
    uint64_t tiles = 0;  // where the tile-parts, whose coded data nothing checks, begin
};

// The image and tile size segment: its length agrees with the component
// count, the image and tiles have extent, each component a depth and sampling.
bool sizeValid(ByteReader& r, uint64_t at) {
    uint8_t s[40 + 3 * 16];
    if (!r.readExact(at, s, 40)) return false;
    const uint32_t length = be16(s), components = be16(s + 36);
    if (components < 1 || components > 16384 || length != 38 + 3 * components) return false;
    if (be32(s + 4) <= be32(s + 12) || be32(s + 8) <= be32(s + 16)) return false;  // origins
    if (be32(s + 20) == 0 || be32(s + 24) == 0) return false;                      // tile size
    const uint32_t checked = components < 16 ? components : 16;
    if (!r.readExact(at + 38, s + 38, 3 * checked)) return false;
    for (uint32_t c = 0; c < checked; ++c) {
        const uint8_t* p = s + 38 + 3 * c;
        if ((p[0] & 0x7F) + 1 > 38 || p[1] == 0 || p[2] == 0) return false;
    }
    return true;
}

Walked codestream(ByteReader& r, uint64_t start) {
    uint8_t m[4];
    if (!r.readExact(start, m, 4) || be16(m) != 0xFF4F || be16(m + 2) != 0xFF51 ||
        !sizeValid(r, start + 4))
        return {Stop::kBroken, start};
    uint64_t p = start + 2;
    // Main header: marker segments up to the first tile-part.
    for (int n = 0;; ++n) {
        if (n == kMaxSegments) return {Stop::kBroken, p};
        if (!r.readExact(p, m, 4)) return {Stop::kLimit, r.limit()};
        const uint16_t marker = be16(m);
        if (marker == 0xFF90) break;
        if (marker < 0xFF50 || marker > 0xFF6F || be16(m + 2) < 2) return {Stop::kBroken, p};
        p += 2 + be16(m + 2);
    }
    // Tile-parts: SOT with the tile-part's length (0: it runs to the end marker).
    const uint64_t tiles = p;
    for (int n = 0; n < kMaxSegments; ++n) {
        uint8_t t[12];
        const size_t got = r.read(p, t, 12);
        if (got < 2) return {Stop::kLimit, r.limit(), true, tiles};
        if (be16(t) == 0xFFD9) return {Stop::kEnd, p + 2, true, tiles};
        if (be16(t) != 0xFF90) return {Stop::kBroken, p, true, tiles};
        if (got < 12) return {Stop::kLimit, r.limit(), true, tiles};
        const uint32_t length = be32(t + 6);
        if (be16(t + 2) != 10 || (length != 0 && length < 14))
            return {Stop::kBroken, p, true, tiles};
        if (length == 0) {
            // Coded data never holds FF followed by a byte above 8F.
            const uint8_t eoc[] = {0xFF, 0xD9};
            const auto at = r.find(p + 12, eoc, 2, UINT64_MAX);
            if (!at) return {Stop::kLimit, r.limit(), true, tiles};
            return {Stop::kEnd, *at + 2, true, tiles};
        }
        p += length;
    }
    return {Stop::kBroken, p, true, tiles};
}

bool quick(const uint8_t* s) {
    return std::memcmp(s, kSignature, 12) == 0 ||
           (s[0] == 0xFF && s[1] == 0x4F && s[2] == 0xFF && s[3] == 0x51);
}

std::optional<Carved> bareCodestream(ByteReader& r) {
    const Walked w = codestream(r, 0);
    if (w.stop != Stop::kEnd && !w.pastMainHeader) return std::nullopt;
    Carved c{kTypes[0], w.at, w.stop != Stop::kEnd};
    markUnchecked(c, w.tiles, w.at);
    return c;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[24];
    if (!r.readExact(0, h, 4)) return std::nullopt;
    if (be16(h) == 0xFF4F) return bareCodestream(r);
    if (!r.readExact(0, h, 24) || std::memcmp(h, kSignature, 12) != 0) return std::nullopt;
    const uint32_t ftypSize = be32(h + 12);
    if (std::memcmp(h + 16, "ftyp", 4) != 0 || ftypSize < 20 || ftypSize % 4 != 0)
        return std::nullopt;
    if (std::memcmp(h + 20, "jp2 ", 4) != 0 && std::memcmp(h + 20, "jpx ", 4) != 0 &&
        std::memcmp(h + 20, "jpm ", 4) != 0)
        return std::nullopt;
    uint64_t pos = 12 + uint64_t{ftypSize};
    bool codestreamSeen = false;
    uint64_t data = 0, dataEnd = 0;  // the codestream: its coded data is checked by nothing
    const auto measured = [&](uint64_t at, bool partial) {
        Carved c{kTypes[0], at, partial};
        markUnchecked(c, data, std::min(dataEnd, at));
        return c;
    };
    const auto damaged = [&](uint64_t at) { return measured(at, true); };
    for (int n = 0; n < kMaxBoxes; ++n) {
        uint8_t b[16];
        const size_t got = r.read(pos, b, 16);
        if (got == 0 && pos >= r.limit() && !codestreamSeen) return damaged(r.limit());
        if (got < 8 || !topLevel(b + 4)) {
            if (codestreamSeen) return measured(pos, false);
            return got < 8 ? damaged(r.limit()) : damaged(pos);
        }
        uint64_t size = be32(b), header = 8;
        if (size == 1) {
            if (got < 16) return damaged(r.limit());
            size = uint64_t{be32(b + 8)} << 32 | be32(b + 12), header = 16;
        }
        const bool isCodestream = std::memcmp(b + 4, "jp2c", 4) == 0;
        if (size == 0) {  // the last box: only a codestream can be measured
            if (!isCodestream) return damaged(pos);
            const Walked w = codestream(r, pos + header);
            if (data == 0) data = w.tiles, dataEnd = w.at;
            return measured(w.at, w.stop != Stop::kEnd);
        }
        if (size < header) return damaged(pos);
        if (std::memcmp(b + 4, "jp2h", 4) == 0) {
            uint8_t i[8];  // the header box opens with a 22-byte image header
            if (!r.readExact(pos + header, i, 8) || be32(i) != 22 || std::memcmp(i + 4, "ihdr", 4))
                return damaged(pos);
        }
        if (isCodestream) {
            uint8_t c[4];
            if (!r.readExact(pos + header, c, 4) || be16(c) != 0xFF4F || be16(c + 2) != 0xFF51)
                return damaged(pos);
            codestreamSeen = true;
            if (data == 0) data = pos + header, dataEnd = pos + size;
        }
        uint64_t next;
        if (!add(pos, size, next)) return damaged(pos);
        if (next > r.limit()) return damaged(r.limit());
        pos = next;
    }
    return damaged(pos);
}

}  // namespace

const CarverEntry& jp2Carver() {
    static const CarverEntry entry{"JP2", kTypes, quick, carve, std::string_view("\0\xFF", 2)};
    return entry;
}

}  // namespace kestrum::carve
