// Fixed-width integers from bytes already in memory, in either byte order. The
// caller has made sure the bytes are there; ByteReader fetches them from a source
// with bounds.
#pragma once

#include <cstdint>

namespace kestrum {

constexpr uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

constexpr uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[1] << 8 | p[0]);
}

constexpr uint32_t be24(const uint8_t* p) {
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

constexpr uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

constexpr uint32_t le32(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

constexpr uint64_t be64(const uint8_t* p) {
    return uint64_t{be32(p)} << 32 | be32(p + 4);
}

constexpr uint64_t le64(const uint8_t* p) {
    return uint64_t{le32(p + 4)} << 32 | le32(p);
}

// In the byte order a file declares (TIFF's "II" / "MM" and the like).
constexpr uint16_t get16(const uint8_t* p, bool little) {
    return little ? le16(p) : be16(p);
}

constexpr uint32_t get32(const uint8_t* p, bool little) {
    return little ? le32(p) : be32(p);
}

}  // namespace kestrum
