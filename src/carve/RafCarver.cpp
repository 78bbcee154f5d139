// A RAF header names its parts by offset and length: the preview JPEG, the CFA
// header and the CFA data, and on two-sensor cameras a second CFA header and
// data. The file ends with the furthest of them.
#include "carve/RafCarver.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"RAF"};
constexpr char kMagic[] = "FUJIFILMCCD-RAW ";  // 16 bytes without the NUL
constexpr size_t kHeader = 0x94;               // through the second part list

bool digits(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] < '0' || p[i] > '9') return false;
    return true;
}

// Printable text padded with NULs (at least one character).
bool paddedText(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n && p[i] >= 0x20 && p[i] < 0x7F) ++i;
    if (i == 0) return false;
    while (i < n && p[i] == 0) ++i;
    return i == n;
}

bool quick(const uint8_t* s) {
    return std::memcmp(s, kMagic, 16) == 0;
}

// A CFA header starts with its record count and the first record's tag; none
// when it lies past the limit or is not believable.
std::optional<uint64_t> cfaHeaderKey(ByteReader& r, uint64_t at, uint32_t length) {
    const auto count = r.be32(at);
    const auto firstTag = r.be16(at + 4);
    if (!count || !firstTag || *count == 0 || *count > 4096 || *firstTag == 0 || length < 8)
        return std::nullopt;
    return uint64_t{*count} << 16 | *firstTag;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[kHeader];
    if (!r.readExact(0, h, sizeof h) || !quick(h)) return std::nullopt;
    // Format version, camera id, camera name, directory version.
    if (!digits(h + 16, 4) || !paddedText(h + 20, 8) || !paddedText(h + 28, 32) ||
        !digits(h + 60, 4))
        return std::nullopt;
    const uint32_t jpegAt = be32(h + 84), jpegLen = be32(h + 88);
    if (jpegAt < 92 || jpegLen < 4) return std::nullopt;
    uint8_t soi[3];
    if (r.readExact(jpegAt, soi, 3) && !(soi[0] == 0xFF && soi[1] == 0xD8 && soi[2] == 0xFF))
        return std::nullopt;
    uint64_t end = uint64_t{jpegAt} + jpegLen;
    // The CFA header and data.
    const uint32_t metaAt = be32(h + 92), metaLen = be32(h + 96);
    const uint32_t cfaAt = be32(h + 100), cfaLen = be32(h + 104);
    if (metaAt < 92 || cfaAt < 92) return std::nullopt;
    const auto key = cfaHeaderKey(r, metaAt, metaLen);
    if (!key && metaAt + 6ull <= r.limit()) return std::nullopt;
    end = std::max({end, uint64_t{metaAt} + metaLen, uint64_t{cfaAt} + cfaLen});
    // Two-sensor cameras list a second CFA header, like the first, and its data.
    const uint32_t meta2At = be32(h + 120), meta2Len = be32(h + 124);
    const uint32_t cfa2At = be32(h + 128), cfa2Len = be32(h + 132);
    if (key && meta2At >= 92 && cfa2At >= 92 && cfaHeaderKey(r, meta2At, meta2Len) == key)
        end = std::max({end, uint64_t{meta2At} + meta2Len, uint64_t{cfa2At} + cfa2Len});
    // Only the header and the directory are checked: the preview is known by its
    // first bytes alone, the sensor data by nothing. A file found where the
    // directory puts the preview is that preview.
    Carved c{kTypes[0], std::min(end, r.limit()), end > r.limit()};
    markUnchecked(c, jpegAt, c.length);
    if (c.checkedLength != 0 && jpegAt % 512 == 0) c.ownStarts.push_back(jpegAt);
    return c;
}

}  // namespace

const CarverEntry& rafCarver() {
    static const CarverEntry kEntry{"Fujifilm RAF", kTypes, quick, carve, "F"};
    return kEntry;
}

}  // namespace kestrum::carve
