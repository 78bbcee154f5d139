// Fixed-width fetches and the bounded forward search shared by every walk.
#include "carve/ByteReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/SectorView.h"

namespace kestrum::carve {
namespace {

template <size_t N>
bool fetch(ByteReader& r, uint64_t offset, uint8_t (&b)[N]) {
    return r.readExact(offset, b, N);
}

}  // namespace

std::optional<uint8_t> ByteReader::u8(uint64_t offset) {
    uint8_t b[1];
    if (!fetch(*this, offset, b)) return std::nullopt;
    return b[0];
}

std::optional<uint16_t> ByteReader::be16(uint64_t offset) {
    uint8_t b[2];
    if (!fetch(*this, offset, b)) return std::nullopt;
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

std::optional<uint16_t> ByteReader::le16(uint64_t offset) {
    uint8_t b[2];
    if (!fetch(*this, offset, b)) return std::nullopt;
    return static_cast<uint16_t>(b[1] << 8 | b[0]);
}

std::optional<uint32_t> ByteReader::be32(uint64_t offset) {
    uint8_t b[4];
    if (!fetch(*this, offset, b)) return std::nullopt;
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

std::optional<uint32_t> ByteReader::le32(uint64_t offset) {
    uint8_t b[4];
    if (!fetch(*this, offset, b)) return std::nullopt;
    return uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
}

std::optional<uint64_t> ByteReader::be64(uint64_t offset) {
    const auto hi = be32(offset), lo = be32(offset + 4);
    if (!hi || !lo) return std::nullopt;
    return uint64_t{*hi} << 32 | *lo;
}

std::optional<uint64_t> ByteReader::le64(uint64_t offset) {
    const auto lo = le32(offset), hi = le32(offset + 4);
    if (!hi || !lo) return std::nullopt;
    return uint64_t{*hi} << 32 | *lo;
}

std::optional<uint64_t> ByteReader::find(uint64_t from, const uint8_t* pattern, size_t n,
                                         uint64_t maxScan) {
    if (n == 0) return from;
    constexpr size_t kBlock = 256 * 1024;
    std::vector<uint8_t> buf(kBlock + n - 1);
    // Positions at which a match may start: [from, from + maxScan).
    const uint64_t lastStart = maxScan > UINT64_MAX - from ? UINT64_MAX : from + maxScan;
    for (uint64_t at = from; at < lastStart && at < limit();) {
        const size_t got = read(at, buf.data(), buf.size());
        if (got < n) return std::nullopt;
        const size_t hit = SectorView::findIn(buf.data(), got, pattern, n);
        if (hit != SectorView::npos) {
            if (at + hit >= lastStart) return std::nullopt;
            return at + hit;
        }
        if (got < buf.size()) return std::nullopt;  // the limit is inside this block
        at += got - (n - 1);
    }
    return std::nullopt;
}

size_t MemoryReader::read(uint64_t offset, void* out, size_t n) {
    if (offset >= limit_) return 0;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, limit_ - offset));
    std::memcpy(out, data_ + offset, take);
    return take;
}

}  // namespace kestrum::carve
