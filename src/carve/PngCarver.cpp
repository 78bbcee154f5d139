// PNG: the signature, a header chunk whose checksum holds, then chunk headers
// followed by their lengths (payloads are not read) up to the end chunk. Apple's
// optimised files put a CgBI chunk before the header; animated ones are PNG too.
#include "carve/PngCarver.h"

#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::string_view kTypes[] = {"PNG"};
constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr int kMaxChunks = 1000000;

uint32_t crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

bool isLetter(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The 13-byte header: sizes, a bit depth the colour type allows, the only
// compression and filter methods there are, and its checksum.
bool headerValid(const uint8_t* chunk) {
    if (be32(chunk) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0) return false;
    const uint8_t* d = chunk + 8;
    const uint32_t width = be32(d), height = be32(d + 4);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
    const int depth = d[8], colour = d[9];
    bool depthOk;
    switch (colour) {
        case 0:
            depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
            break;
        case 3:
            depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8;
            break;
        case 2:
        case 4:
        case 6:
            depthOk = depth == 8 || depth == 16;
            break;
        default:
            return false;
    }
    if (!depthOk || d[10] != 0 || d[11] != 0 || d[12] > 1) return false;
    return crc32(chunk + 4, 17) == be32(chunk + 21);
}

bool quick(const uint8_t* s) {
    return std::memcmp(s, kSignature, 8) == 0;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t head[33];
    if (!r.readExact(0, head, 8) || std::memcmp(head, kSignature, 8) != 0) return std::nullopt;
    uint64_t pos = 8;
    uint8_t cgbi[12];
    if (r.readExact(pos, cgbi, 12) && be32(cgbi) == 4 && std::memcmp(cgbi + 4, "CgBI", 4) == 0)
        pos += 16;
    if (!r.readExact(pos, head, 25) || !headerValid(head)) return std::nullopt;
    pos += 25;
    // A break shows newer bytes that began inside the chunk before it: only chunk
    // headers are checked, not their bodies.
    uint64_t prev = pos;
    const auto broken = [&](uint64_t end) {
        Carved c{kTypes[0], end, true};
        markUnchecked(c, prev, end);
        return c;
    };
    for (int n = 0; n < kMaxChunks; ++n) {
        uint8_t c[8];
        if (!r.readExact(pos, c, 8)) return broken(r.limit());
        const uint32_t length = be32(c);
        if (length > 0x7FFFFFFF || !isLetter(c[4]) || !isLetter(c[5]) || !isLetter(c[6]) ||
            !isLetter(c[7]))
            return broken(pos);
        const uint64_t next = pos + 12 + length;
        prev = pos;
        if (next > r.limit()) return broken(r.limit());
        if (std::memcmp(c + 4, "IEND", 4) == 0) {
            if (length != 0) return broken(pos);
            return Carved{kTypes[0], next, false};
        }
        pos = next;
    }
    return broken(pos);
}

}  // namespace

const CarverEntry& pngCarver() {
    static const CarverEntry entry{"PNG", kTypes, quick, carve, "\x89"};
    return entry;
}

}  // namespace kestrum::carve
