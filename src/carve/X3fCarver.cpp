// An X3F file is a header, its sections ("SECp" properties, "SECi" images,
// "SECc" camera data) and last a "SECd" directory of them, followed by the 4-byte
// offset of that directory. The walk searches forward for a directory whose
// entries name sections before it and whose trailing offset points back at it.
#include "carve/X3fCarver.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"X3F"};
constexpr uint32_t kMaxEntries = 1000;  // cameras write under 20
constexpr uint64_t kMaxScan = uint64_t{1} << 30;
constexpr uint64_t kMinSection = 8;
constexpr int kMaxCandidates = 256;  // "SECd" look-alikes tried before the search gives up

bool quick(const uint8_t* s) {
    return std::memcmp(s, "FOVb", 4) == 0;
}

// The file's end when a directory stands at `dir`.
std::optional<uint64_t> directoryEnd(ByteReader& r, uint64_t dir) {
    uint8_t d[12];
    if (!r.readExact(dir, d, sizeof d)) return std::nullopt;
    const uint32_t version = le32(d + 4), n = le32(d + 8);
    if (version >> 16 < 1 || version >> 16 > 4 || n == 0 || n > kMaxEntries) return std::nullopt;
    const uint64_t end = dir + 12 + 12ull * n + 4;
    const auto back = r.le32(end - 4);
    if (!back || *back != dir) return std::nullopt;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t e[12];
        if (!r.readExact(dir + 12 + 12ull * i, e, sizeof e)) return std::nullopt;
        const uint64_t at = le32(e), length = le32(e + 4);
        if (at < kMinSection || at + length > dir) return std::nullopt;
        uint8_t mark[4];
        if (!r.readExact(at, mark, sizeof mark) || std::memcmp(mark, "SEC", 3) != 0)
            return std::nullopt;
    }
    return end;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[40];
    if (!r.readExact(0, h, sizeof h) || !quick(h)) return std::nullopt;
    const uint32_t version = le32(h + 4);
    if (version >> 16 < 2 || version >> 16 > 4 || (version & 0xFFFF) > 0xFF) return std::nullopt;
    if (version >> 16 < 4) {
        // Columns, rows and rotation of the image.
        const uint32_t cols = le32(h + 28), rows = le32(h + 32), rotation = le32(h + 36);
        if (cols == 0 || rows == 0 || cols > 65535 || rows > 65535) return std::nullopt;
        if (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270)
            return std::nullopt;
    }
    static constexpr uint8_t kDir[] = {'S', 'E', 'C', 'd'};
    for (uint64_t from = 8, tried = 0; from < r.limit() && tried < kMaxCandidates; ++tried) {
        const auto dir = r.find(from, kDir, sizeof kDir, kMaxScan - from);
        if (!dir) break;
        if (auto end = directoryEnd(r, *dir)) return Carved{kTypes[0], *end, false};
        from = *dir + 1;
        if (from >= kMaxScan) break;
    }
    // The directory is overwritten or out of reach: the sections so far are the file.
    return Carved{kTypes[0], std::min<uint64_t>(r.limit(), kMaxScan), true};
}

}  // namespace

const CarverEntry& x3fCarver() {
    static const CarverEntry kEntry{"Sigma X3F", kTypes, quick, carve, "F"};
    return kEntry;
}

}  // namespace kestrum::carve
