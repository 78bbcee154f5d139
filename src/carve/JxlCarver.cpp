// JPEG XL carver. In the box container, the boxes give the length and a sized
// codestream box (or the last of its parts) completes the file. A bare codestream
// records no length and marks no end: it is taken to run to the last non-zero byte
// before the first sector that is zero-filled or where another family's file
// starts, so it never hides one.
#include "carve/JxlCarver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "carve/ByteOrder.h"
#include "carve/NextFile.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"JXL"};
constexpr uint8_t kContainer[12] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
constexpr int kMaxBoxes = 100'000;
constexpr uint64_t kMaxBare = uint64_t{64} << 20;  // far beyond a bare codestream photo

bool quick(const uint8_t* s) {
    if (std::memcmp(s, kContainer, sizeof kContainer) == 0)
        return std::memcmp(s + 16, "ftypjxl ", 8) == 0;
    // The codestream's signature, then a size header whose first bits are no
    // all-ones run (which no writer produces for a small image).
    return s[0] == 0xFF && s[1] == 0x0A && s[2] != 0xFF;
}

bool isBox(const uint8_t* t, std::string_view id) {
    return std::memcmp(t, id.data(), 4) == 0;
}

bool knownBox(const uint8_t* t) {
    for (std::string_view id : {"jxll", "jumb", "Exif", "xml ", "brob", "jxli", "jxlc", "jxlp",
                                "jbrd", "free", "skip", "uuid"})
        if (isBox(t, id)) return true;
    return false;
}

std::optional<Carved> bare(ByteReader& r) {
    const uint64_t bound = std::min(r.limit(), kMaxBare);
    std::vector<uint8_t> sector(512);
    uint64_t end = 0;
    for (uint64_t at = 0; at < bound; at += 512) {
        const size_t got = r.read(at, sector.data(), 512);
        std::fill(sector.begin() + static_cast<long>(got), sector.end(), 0);
        if (at > 0 && otherFileStartsAt(r, at, jxlCarver())) break;
        const auto last = std::find_if(sector.rbegin() + static_cast<long>(512 - got),
                                       sector.rend(), [](uint8_t b) { return b != 0; });
        if (last == sector.rend()) break;  // a zero sector: past the picture
        end = at + static_cast<uint64_t>(sector.rend() - last);
        if (got < 512) break;
    }
    // Nothing past the signature is checked: the scan looks inside, and the
    // codestream is no proof of newer bytes inside another file's payload.
    Carved c{"JXL", std::max<uint64_t>(end, 2), end >= kMaxBare};
    markUnchecked(c, 2, c.length);
    return c;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t s[32];
    if (!r.readExact(0, s, sizeof s) || !quick(s)) return std::nullopt;
    if (s[0] == 0xFF) return bare(r);

    uint64_t off = 12;
    bool codestream = false;
    int boxes = 0;
    for (; boxes < kMaxBoxes && off < r.limit(); ++boxes) {
        uint8_t h[16];
        const size_t got = r.read(off, h, sizeof h);
        if (got < 8) break;
        const uint8_t* t = h + 4;
        const bool first = boxes == 0;
        if (first ? !isBox(t, "ftyp") : !knownBox(t)) break;
        uint64_t size = be32(h);
        uint64_t header = 8;
        if (size == 1) {
            if (got < 16) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = size << 8 | h[i];
            header = 16;
        }
        if (size == 0) {
            // The last box runs to the file's end, which nothing records.
            if (!isBox(t, "jxlc") && !isBox(t, "jxlp")) break;
            Carved c = *bare(r);
            c.length = std::max(c.length, off + header);
            return c;
        }
        if (size < header) break;
        if (off + size > r.limit()) return Carved{"JXL", r.limit(), true};
        if (isBox(t, "jxlc")) codestream = true;
        if (isBox(t, "jxlp") && size >= header + 4) {
            uint8_t index[1];
            codestream = codestream || (r.readExact(off + header, index, 1) && (index[0] & 0x80));
        }
        off += size;
    }
    if (boxes == 0) return std::nullopt;
    return Carved{"JXL", off, !codestream};
}

}  // namespace

const CarverEntry& jxlCarver() {
    static const CarverEntry kEntry{"JPEG XL", kTypes, quick, carve, std::string_view("\0\xFF", 2)};
    return kEntry;
}

}  // namespace kestrum::carve
