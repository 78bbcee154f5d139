// BMP: "BM", a DIB header of a known size with one plane, a valid bit count and
// compression, and a pixel offset inside the file. The file-size field gives the
// length where it agrees with the pixel array the header describes; where it is
// zero or contradicts that, the pixel array (or the declared image size) does.
#include "carve/BmpCarver.h"

#include <algorithm>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::string_view kTypes[] = {"BMP"};
constexpr uint32_t kMaxSide = 1u << 18;
// Bytes a size field may exceed the pixel array by (padding, a profile or
// other data some writers append) before it is taken for garbage.
constexpr uint64_t kSlack = 64 * 1024;

bool knownHeaderSize(uint32_t n) {
    return n == 12 || n == 16 || n == 40 || n == 52 || n == 56 || n == 64 || n == 108 || n == 124;
}

bool quick(const uint8_t* s) {
    return s[0] == 'B' && s[1] == 'M' && knownHeaderSize(le32(s + 14));
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[14 + 124] = {};
    if (!r.readExact(0, h, 18) || h[0] != 'B' || h[1] != 'M') return std::nullopt;
    const uint32_t sizeField = le32(h + 2), offset = le32(h + 10), dib = le32(h + 14);
    if (!knownHeaderSize(dib) || !r.readExact(0, h, 14 + dib)) return std::nullopt;

    uint64_t width, height;
    uint16_t planes, bits;
    uint32_t compression = 0, imageSize = 0;
    if (dib == 12) {
        width = le16(h + 18), height = le16(h + 20), planes = le16(h + 22), bits = le16(h + 24);
    } else {
        const int32_t w = static_cast<int32_t>(le32(h + 18)),
                      hh = static_cast<int32_t>(le32(h + 22));
        if (w <= 0 || hh == 0 || hh == INT32_MIN) return std::nullopt;
        width = static_cast<uint64_t>(w);
        height = static_cast<uint64_t>(hh < 0 ? -static_cast<int64_t>(hh) : hh);
        planes = le16(h + 26), bits = le16(h + 28);
        if (dib >= 40) compression = le32(h + 30), imageSize = le32(h + 34);
    }
    if (planes != 1 || width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return std::nullopt;
    const bool embedded = compression == 4 || compression == 5;  // JPEG or PNG inside
    if (compression > 6 || (compression == 1 && bits != 8) || (compression == 2 && bits != 4) ||
        (embedded && bits != 0))
        return std::nullopt;
    if (!embedded && bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
        bits != 32 && bits != 64)
        return std::nullopt;
    if (offset < 14 + dib || (sizeField != 0 && offset > sizeField)) return std::nullopt;

    // Where the pixel array (or the compressed image) ends by the header.
    const bool raw = compression == 0 || compression == 3 || compression == 6;
    uint64_t expected;
    if (raw) {
        expected = offset + (width * bits + 31) / 32 * 4 * height;
    } else {
        if (imageSize == 0 && sizeField == 0) return std::nullopt;
        expected = offset + uint64_t{imageSize};
    }
    if (dib == 124 && le32(h + 14 + 56) == 0x4D424544) {  // "MBED": an embedded profile
        const uint64_t profileEnd = 14 + uint64_t{le32(h + 14 + 112)} + le32(h + 14 + 116);
        if (profileEnd > expected && profileEnd - expected <= kSlack) expected = profileEnd;
    }
    uint64_t length = expected;
    if (sizeField >= expected && sizeField - expected <= kSlack) length = sizeField;
    if (!raw && imageSize == 0) length = sizeField;
    // The pixels after the headers are checked by nothing.
    Carved c{kTypes[0], std::min(length, r.limit()), length > r.limit()};
    markUnchecked(c, offset, c.length);
    return c;
}

}  // namespace

const CarverEntry& bmpCarver() {
    static const CarverEntry entry{"BMP", kTypes, quick, carve, "B"};
    return entry;
}

}  // namespace kestrum::carve
