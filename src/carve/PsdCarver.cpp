// Photoshop documents (PSD, and PSB with its wider lengths): the header, then
// the colour mode data, the image resources (walked one by one: they must fill
// their section exactly), the layer and mask section by its length, and the
// merged image data, raw or run-length coded with a table of row byte counts.
#include "carve/PsdCarver.h"

#include <cstring>
#include <vector>

#include "carve/ByteOrder.h"
#include "carve/ImageTrailers.h"

namespace kestrum::carve {
namespace {

constexpr std::string_view kTypes[] = {"PSD"};
constexpr int kMaxResources = 100000;
constexpr size_t kTableBlock = 64 * 1024;

bool add(uint64_t a, uint64_t b, uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}
bool mul(uint64_t a, uint64_t b, uint64_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}

bool knownResourceSignature(const uint8_t* p) {
    return std::memcmp(p, "8BIM", 4) == 0 || std::memcmp(p, "MeSa", 4) == 0 ||
           std::memcmp(p, "AgHg", 4) == 0 || std::memcmp(p, "PHUT", 4) == 0 ||
           std::memcmp(p, "DCSR", 4) == 0;
}

enum class Check { kOk, kLimit, kBroken };

// Resources: signature, id, an even-padded Pascal name, an even-padded body.
Check resourcesFill(ByteReader& r, uint64_t start, uint64_t length) {
    const uint64_t end = start + length;
    uint64_t p = start;
    for (int n = 0; n < kMaxResources && p < end; ++n) {
        uint8_t h[7];
        if (!r.readExact(p, h, 7)) return Check::kLimit;
        if (!knownResourceSignature(h)) return Check::kBroken;
        const uint64_t name = (1u + h[6] + 1u) & ~1u;
        const auto size = r.be32(p + 6 + name);
        if (!size) return Check::kLimit;
        p += 6 + name + 4 + ((uint64_t{*size} + 1) & ~1ull);
    }
    return p == end ? Check::kOk : Check::kBroken;
}

bool quick(const uint8_t* s) {
    return std::memcmp(s, "8BPS", 4) == 0 && s[4] == 0 && (s[5] == 1 || s[5] == 2) &&
           std::memcmp(s + 6, "\0\0\0\0\0\0", 6) == 0;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[26];
    if (!r.readExact(0, h, 26) || !quick(h)) return std::nullopt;
    const bool big = h[5] == 2;
    const uint32_t channels = be16(h + 12), height = be32(h + 14), width = be32(h + 18),
                   depth = be16(h + 22), mode = be16(h + 24);
    const uint32_t maxSide = big ? 300000 : 30000;
    if (channels < 1 || channels > 56 || height < 1 || height > maxSide || width < 1 ||
        width > maxSide)
        return std::nullopt;
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return std::nullopt;
    if (mode > 9 || mode == 5 || mode == 6) return std::nullopt;

    const auto cut = [&]() { return Carved{kTypes[0], r.limit(), true}; };
    uint64_t pos = 26;
    const auto colourData = r.be32(pos);
    if (!colourData) return std::nullopt;
    pos += 4 + uint64_t{*colourData};
    const auto resources = r.be32(pos);
    if (!resources) return std::nullopt;
    const Check check = resourcesFill(r, pos + 4, *resources);
    if (check == Check::kBroken) return std::nullopt;
    if (check == Check::kLimit) return cut();
    pos += 4 + uint64_t{*resources};
    // From here on the header and the resources have checked out: a break is damage.
    std::optional<uint64_t> layers;
    if (big) {
        layers = r.be64(pos);
    } else if (const auto v = r.be32(pos)) {
        layers = *v;
    }
    if (!layers) return cut();
    uint64_t imageData;
    if (!add(pos + (big ? 8 : 4), *layers, imageData)) return Carved{kTypes[0], pos, true};
    const uint64_t layerStart = pos;
    pos = imageData;
    const auto compression = r.be16(pos);
    if (!compression) return cut();
    // A method that does not exist means the layer length led astray.
    if (*compression > 3) return Carved{kTypes[0], layerStart, true};
    pos += 2;
    const uint64_t rows = uint64_t{channels} * height;
    uint64_t end;
    if (*compression == 0) {
        const uint64_t rowBytes = (uint64_t{width} * depth + 7) / 8;
        uint64_t pixels;
        if (!mul(rows, rowBytes, pixels) || !add(pos, pixels, end)) return cut();
    } else if (*compression == 1) {
        // The row byte counts: 16-bit in PSD, 32-bit in PSB.
        const uint64_t entry = big ? 4 : 2;
        uint64_t sum = 0;
        std::vector<uint8_t> buf(kTableBlock);
        for (uint64_t done = 0; done < rows;) {
            const uint64_t want = std::min<uint64_t>(rows - done, kTableBlock / entry);
            if (!r.readExact(pos + done * entry, buf.data(), want * entry)) return cut();
            for (uint64_t i = 0; i < want; ++i) {
                const uint8_t* e = buf.data() + i * entry;
                sum += big ? be32(e) : be16(e);
            }
            done += want;
        }
        end = pos + rows * entry + sum;
    } else {
        // Deflate-coded image data has no length of its own: only its start is known.
        return Carved{kTypes[0], pos, true};
    }
    if (end > r.limit()) return cut();
    // The pixels are checked by nothing.
    Carved c{kTypes[0], trailersEnd(r, end), false};
    markUnchecked(c, pos, end);
    return c;
}

}  // namespace

const CarverEntry& psdCarver() {
    static const CarverEntry entry{"PSD", kTypes, quick, carve, "8"};
    return entry;
}

}  // namespace kestrum::carve
