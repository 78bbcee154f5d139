// MXF carver: a header partition pack first, then KLV packets back to back (a
// 16-byte SMPTE key, a BER length, the value). The footer partition, or the
// random index pack that may close the file behind it, marks a complete file.
#include "carve/MxfCarver.h"

#include <array>
#include <cstring>

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"MXF"};
constexpr uint8_t kSmpte[4] = {0x06, 0x0E, 0x2B, 0x34};
// Partition packs: 06 0E 2B 34 02 05 01 01 0D 01 02 01 01 kind status 00.
constexpr uint8_t kPartition[13] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01,
                                    0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};
constexpr uint8_t kHeaderKind = 0x02, kFooterKind = 0x04, kRipKind = 0x11;
constexpr uint32_t kMaxPackets = 50'000'000;
// A single value this large is essence no structure checks: from its start on,
// the file's bytes are vouched for by its length alone.
constexpr uint64_t kUncheckedValue = uint64_t{1} << 20;

bool partitionKind(const uint8_t* key, uint8_t kind) {
    return std::memcmp(key, kPartition, sizeof kPartition) == 0 && key[13] == kind;
}

bool quick(const uint8_t* s) {
    // The header partition, status 1 to 4 (open or closed, incomplete or complete).
    return partitionKind(s, kHeaderKind) && s[14] >= 1 && s[14] <= 4 && s[15] == 0;
}

struct Klv {
    uint64_t header;  // key and length bytes
    uint64_t value;
};

// The KLV packet at off; none when the key is no SMPTE label or the length no BER.
std::optional<Klv> klvAt(ByteReader& r, uint64_t off, uint8_t* key) {
    uint8_t b[25];
    const size_t got = r.read(off, b, sizeof b);
    if (got < 17 || std::memcmp(b, kSmpte, 4) != 0) return std::nullopt;
    std::memcpy(key, b, 16);
    if (b[16] < 0x80) return Klv{17, b[16]};
    const size_t n = b[16] & 0x7F;
    if (n == 0 || n > 8 || got < 17 + n) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < n; ++i) value = value << 8 | b[17 + i];
    if (value > (uint64_t{1} << 56)) return std::nullopt;
    return Klv{17 + n, value};
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t key[16];
    if (!r.readExact(0, key, sizeof key) || !quick(key)) return std::nullopt;
    const auto first = klvAt(r, 0, key);
    // A partition pack holds at least its fixed fields (88 bytes) and a batch header.
    if (!first || first->value < 88 || first->value > 65536) return std::nullopt;

    uint64_t off = 0, checked = 0;
    bool footer = false, closed = false, partial = false;
    uint32_t packets = 0;
    for (; packets < kMaxPackets && off < r.limit(); ++packets) {
        const auto klv = klvAt(r, off, key);
        if (!klv || (packets > 0 && partitionKind(key, kHeaderKind))) break;  // the next file
        const uint64_t end = off + klv->header + klv->value;
        if (end > r.limit()) {
            partial = true;
            off = r.limit();
            break;
        }
        if (checked == 0 && klv->value >= kUncheckedValue) checked = off + klv->header;
        footer = footer || partitionKind(key, kFooterKind);
        off = end;
        if (partitionKind(key, kRipKind)) {
            closed = true;  // nothing follows the random index pack
            break;
        }
    }
    if (packets == 0) return std::nullopt;
    partial = partial || !(footer || closed) || packets >= kMaxPackets;
    return Carved{"MXF", off, partial, checked};
}

}  // namespace

const CarverEntry& mxfCarver() {
    static const CarverEntry kEntry{"MXF", kTypes, quick, carve, "\x06"};
    return kEntry;
}

}  // namespace kestrum::carve
