// Ogg carver: pages follow each other back to back, each checked by its CRC; the
// file ends at the page that closes the last of its logical streams (or of the
// last link, when streams are chained).
#include "carve/OggCarver.h"

#include <array>
#include <cstring>
#include <vector>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"OGG"};

constexpr size_t kPageHeader = 27;
constexpr size_t kMaxPage = kPageHeader + 255 + 255 * 255;
constexpr uint8_t kContinued = 1, kBos = 2, kEos = 4;

bool quick(const uint8_t* s) {
    return std::memcmp(s, "OggS", 4) == 0 && s[4] == 0 && (s[5] & ~7) == 0 && (s[5] & kBos);
}

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k) c = c & 0x80000000u ? c << 1 ^ 0x04C11DB7u : c << 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

struct Page {
    uint8_t flags;
    uint32_t serial;
    uint32_t sequence;
    uint32_t length;
};

// The page at offset when its header is sound and its CRC matches.
std::optional<Page> readPage(ByteReader& r, uint64_t offset, std::vector<uint8_t>& buf) {
    uint8_t* p = buf.data();
    if (!r.readExact(offset, p, kPageHeader)) return std::nullopt;
    if (std::memcmp(p, "OggS", 4) != 0 || p[4] != 0 || (p[5] & ~7) != 0) return std::nullopt;
    const size_t segments = p[26];
    if (!r.readExact(offset + kPageHeader, p + kPageHeader, segments)) return std::nullopt;
    size_t length = kPageHeader + segments;
    for (size_t i = 0; i < segments; ++i) length += p[kPageHeader + i];
    if (!r.readExact(offset, p, length)) return std::nullopt;
    const uint32_t stored = le32(p + 22);
    std::memset(p + 22, 0, 4);
    uint32_t crc = 0;
    const auto& table = crcTable();
    for (size_t i = 0; i < length; ++i) crc = crc << 8 ^ table[(crc >> 24) ^ p[i]];
    if (crc != stored) return std::nullopt;
    return Page{p[5], le32(p + 14), le32(p + 18), static_cast<uint32_t>(length)};
}

struct Stream {
    uint32_t serial;
    bool ended;
};

std::optional<Carved> carve(ByteReader& r) {
    std::vector<uint8_t> buf(kMaxPage);
    const auto first = readPage(r, 0, buf);
    if (!first || !(first->flags & kBos) || (first->flags & kContinued) || first->sequence != 0)
        return std::nullopt;

    // One link's logical streams; multiplexed files rarely hold more than a few.
    std::array<Stream, 64> streams{};
    size_t count = 0, open = 0;
    uint64_t at = 0;
    for (uint64_t i = 0; i < 100'000'000; ++i) {
        const auto page = readPage(r, at, buf);
        if (open == 0 && i > 0) {
            // The last stream has ended: only a new link (chained streams) goes on.
            if (!page || !(page->flags & kBos)) return Carved{"OGG", at, false};
            count = 0;
        }
        if (!page) return Carved{"OGG", at, true};
        Stream* s = nullptr;
        for (size_t k = 0; k < count; ++k)
            if (streams[k].serial == page->serial) s = &streams[k];
        if (page->flags & kBos) {
            if (s || count == streams.size()) return Carved{"OGG", at, true};
            streams[count++] = {page->serial, false};
            s = &streams[count - 1];
            ++open;
        } else if (!s || s->ended) {
            return Carved{"OGG", at, true};
        }
        if (page->flags & kEos) {
            s->ended = true;
            --open;
        }
        at += page->length;
    }
    return Carved{"OGG", at, true};
}

}  // namespace

const CarverEntry& oggCarver() {
    static const CarverEntry kEntry{"Ogg", kTypes, quick, carve, "O"};
    return kEntry;
}

}  // namespace kestrum::carve
