// An MRW file is a block list ("\0MRM" and its length, holding "\0PRD", "\0TTW",
// "\0WBG", ... blocks) followed by the raw image, whose size the PRD block gives:
// sensor height x width x bits per pixel as stored.
#include "carve/MrwCarver.h"

#include <array>
#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"MRW"};
constexpr uint32_t kMaxHeader = 1 << 20;  // cameras write a few KB
constexpr int kMaxBlocks = 64;
constexpr uint8_t kPadded = 0x52, kPacked = 0x59;  // PRD storage methods

bool quick(const uint8_t* s) {
    return std::memcmp(s, "\0MRM", 4) == 0;
}

bool blockName(const uint8_t* p) {
    if (p[0] != 0) return false;
    for (int i = 1; i < 4; ++i)
        if (p[i] < 'A' || p[i] > 'Z') return false;
    return true;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[8 + 8 + 24];  // MRM header, PRD header, PRD block
    if (!r.readExact(0, h, sizeof h) || !quick(h)) return std::nullopt;
    const auto headerLen = r.be32(4);
    if (!headerLen || *headerLen < 8 + 24 || *headerLen > kMaxHeader) return std::nullopt;
    const uint64_t dataAt = 8ull + *headerLen;
    const uint32_t prdLen = be32(h + 12);
    if (std::memcmp(h + 8, "\0PRD", 4) != 0 || prdLen < 24) return std::nullopt;

    const uint8_t* prd = h + 16;
    const uint32_t sensorH = be16(prd + 8), sensorW = be16(prd + 10);
    const uint32_t imageH = be16(prd + 12), imageW = be16(prd + 14);
    const uint8_t depth = prd[16], storage = prd[18];
    if (sensorH == 0 || sensorW == 0 || imageH == 0 || imageW == 0 || imageH > sensorH ||
        imageW > sensorW)
        return std::nullopt;
    if (storage != kPadded && storage != kPacked) return std::nullopt;
    if (depth < 8 || depth > 16) return std::nullopt;

    // The blocks must fill the header exactly.
    uint64_t at = 8;
    for (int i = 0; i < kMaxBlocks && at < dataAt; ++i) {
        uint8_t b[8];
        if (!r.readExact(at, b, sizeof b)) return Carved{kTypes[0], r.limit(), true};
        if (!blockName(b)) return std::nullopt;
        at += 8ull + be32(b + 4);
    }
    if (at != dataAt) return std::nullopt;

    const uint64_t bits = storage == kPadded ? 16 : depth;
    const uint64_t end = dataAt + (uint64_t{sensorH} * sensorW * bits + 7) / 8;
    // The sensor data has no structure of its own to check.
    if (end > r.limit()) return Carved{kTypes[0], r.limit(), true, dataAt};
    return Carved{kTypes[0], end, false, dataAt};
}

}  // namespace

const CarverEntry& mrwCarver() {
    static const CarverEntry kEntry{"Minolta MRW", kTypes, quick, carve, std::string_view("\0", 1)};
    return kEntry;
}

}  // namespace kestrum::carve
