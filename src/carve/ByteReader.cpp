// Fixed-width fetches and the bounded forward search shared by every walk.
#include "carve/ByteReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "carve/ByteOrder.h"
#include "disk/SectorView.h"

namespace kestrum::carve {
namespace {

// N bytes at offset, read as T by convert; none when they are not all there.
template <size_t N, typename T>
std::optional<T> fetch(ByteReader& r, uint64_t offset, T (*convert)(const uint8_t*)) {
    uint8_t b[N];
    if (!r.readExact(offset, b, N)) return std::nullopt;
    return convert(b);
}

uint8_t byte(const uint8_t* p) {
    return *p;
}

}  // namespace

std::optional<uint8_t> ByteReader::u8(uint64_t offset) {
    return fetch<1>(*this, offset, byte);
}

std::optional<uint16_t> ByteReader::be16(uint64_t offset) {
    return fetch<2>(*this, offset, kestrum::be16);
}

std::optional<uint16_t> ByteReader::le16(uint64_t offset) {
    return fetch<2>(*this, offset, kestrum::le16);
}

std::optional<uint32_t> ByteReader::be32(uint64_t offset) {
    return fetch<4>(*this, offset, kestrum::be32);
}

std::optional<uint32_t> ByteReader::le32(uint64_t offset) {
    return fetch<4>(*this, offset, kestrum::le32);
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
