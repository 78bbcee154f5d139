// AFCP and Photo Mechanic trailers, walked from their start and confirmed by the
// closing mark that points back at it.
#include "carve/ImageTrailers.h"

#include <algorithm>
#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr size_t kMaxItems = 256;
constexpr int kMaxRecords = 10000;
constexpr int kMaxTrailers = 4;

// AFCP: "AXS!" (big-endian) or "AXS*" (little-endian), a directory of items at
// offsets from the file's start, and a closing "AXS" mark holding the
// trailer's own offset.
uint64_t afcpEnd(ByteReader& r, uint64_t at) {
    uint8_t h[12];
    if (!r.readExact(at, h, 12) || std::memcmp(h, "AXS", 3) != 0) return at;
    if (h[3] != '!' && h[3] != '*') return at;
    const bool little = h[3] == '*';
    auto u16 = [&](const uint8_t* p) { return get16(p, little); };
    auto u32 = [&](const uint8_t* p) { return get32(p, little); };
    const size_t items = u16(h + 6);
    if (items == 0 || items > kMaxItems) return at;
    const uint64_t dataStart = at + 12 + 12ull * items;
    uint64_t dataEnd = dataStart;
    for (size_t i = 0; i < items; ++i) {
        uint8_t e[12];
        if (!r.readExact(at + 12 + 12 * i, e, 12)) return at;
        const uint64_t offset = u32(e + 8), end = offset + u32(e + 4);
        if (offset < dataStart) return at;
        dataEnd = std::max(dataEnd, end);
    }
    uint8_t f[12];
    if (!r.readExact(dataEnd, f, 12) || std::memcmp(f, h, 4) != 0 || u32(f + 4) != at) return at;
    return dataEnd + 12;
}

// Photo Mechanic: IPTC records (1C, record, dataset, 16-bit length), their
// byte count, then "cbipcbbl".
uint64_t photoMechanicEnd(ByteReader& r, uint64_t at) {
    uint64_t p = at;
    for (int n = 0; n < kMaxRecords; ++n) {
        uint8_t rec[5];
        if (!r.readExact(p, rec, 5) || rec[0] != 0x1C) break;
        const uint16_t length = be16(rec + 3);
        if (length & 0x8000) return at;  // extended lengths are not written here
        p += 5 + length;
    }
    uint8_t f[12];
    if (p == at || !r.readExact(p, f, 12) || std::memcmp(f + 4, "cbipcbbl", 8) != 0) return at;
    const uint64_t count = be32(f);
    return count == p - at ? p + 12 : at;
}

}  // namespace

uint64_t trailersEnd(ByteReader& r, uint64_t at) {
    for (int n = 0; n < kMaxTrailers; ++n) {
        uint64_t next = afcpEnd(r, at);
        if (next == at) next = photoMechanicEnd(r, at);
        if (next == at) return at;
        at = next;
    }
    return at;
}

}  // namespace kestrum::carve
