// RealMedia: a ".RMF" chunk, header chunks, one or more DATA chunks and the
// index. The data chunk's packets are walked by their own lengths rather than
// trusting its size field, which some writers get wrong.
#include "carve/RealMediaCarver.h"

#include <array>
#include <cstring>
#include <string_view>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"RM"};
constexpr int kMaxChunks = 100'000;
constexpr uint32_t kMaxPackets = 16'000'000;

bool is(const uint8_t* p, std::string_view id) {
    return std::memcmp(p, id.data(), 4) == 0;
}

bool knownChunk(const uint8_t* id) {
    for (std::string_view k : {"PROP", "MDPR", "CONT", "DATA", "INDX", "RMMD", "RJMD"})
        if (is(id, k)) return true;
    return false;
}

struct Chunk {
    uint8_t id[4]{};
    uint32_t size = 0;
    uint16_t version = 0;
};

std::optional<Chunk> chunkAt(ByteReader& r, uint64_t off) {
    uint8_t h[10];
    if (!r.readExact(off, h, sizeof h)) return std::nullopt;
    Chunk c;
    std::memcpy(c.id, h, 4);
    c.size = be32(h + 4);
    c.version = be16(h + 8);
    return c;
}

struct DataEnd {
    uint64_t end = 0;
    bool whole = false;  // every packet the header announces is there
    uint64_t last = 0;   // where the last packet starts
};

// The packets of the DATA chunk at off: each names its own length.
DataEnd walkPackets(ByteReader& r, uint64_t off, const Chunk& data, uint16_t streams) {
    const auto count = r.be32(off + 10);
    // A data chunk too small for its header is no data chunk; one cut by the
    // limit inside its header keeps what there is.
    if (data.size < 18) return DataEnd{off, false};
    if (!count || r.limit() - off < 18) return DataEnd{r.limit(), false};
    uint64_t at = off + 18;
    uint32_t n = 0;
    DataEnd d;
    for (; n < kMaxPackets && (*count == 0 || n < *count); ++n) {
        uint8_t h[6];
        if (!r.readExact(at, h, sizeof h)) break;
        const uint16_t version = be16(h);
        const uint16_t length = be16(h + 2);
        const uint16_t stream = be16(h + 4);
        if (version > 1 || length < 12u + version || (streams && stream >= streams)) break;
        if (length > r.limit() - at) break;
        d.last = at;
        at += length;
    }
    d.end = at;
    d.whole = *count != 0 && n == *count;
    if (*count == 0) d.whole = at - off == data.size;
    // A writer that counts its 8-byte zero end header into the data chunk's size.
    uint8_t tail[8];
    if (d.whole && data.size >= at - off + 8 && r.readExact(at, tail, 8) &&
        std::memcmp(tail, "\0\0\0\0\0\0\0\0", 8) == 0)
        d.end = at + 8;
    return d;
}

std::optional<Carved> carve(ByteReader& r) {
    const auto head = chunkAt(r, 0);
    if (!head || !is(head->id, ".RMF") || head->size < 18 || head->size > 64 || head->version > 1)
        return std::nullopt;
    const auto first = chunkAt(r, head->size);
    // The file header is followed by the properties or another header chunk.
    if (!first || !knownChunk(first->id) || is(first->id, "DATA") || is(first->id, "INDX") ||
        first->size < 10)
        return std::nullopt;

    uint64_t off = head->size;
    uint64_t indexOffset = 0;
    uint16_t streams = 0;
    bool data = false, index = false, packetsWhole = true, cut = false;
    uint64_t lastPacket = 0, packetsEnd = 0;
    for (int n = 0; n < kMaxChunks; ++n) {
        if (off >= r.limit()) break;
        const auto c = chunkAt(r, off);
        if (!c || !knownChunk(c->id) || c->size < 10) {
            cut = !c;  // a chunk header broken by the limit
            break;
        }
        if (is(c->id, "PROP") && c->size >= 50) {
            indexOffset = r.be32(off + 38).value_or(0);
            streams = r.be16(off + 46).value_or(0);
        }
        if (is(c->id, "DATA")) {
            const DataEnd d = walkPackets(r, off, *c, streams);
            data = true;
            lastPacket = d.last, packetsEnd = d.end;
            packetsWhole = packetsWhole && d.whole;
            if (!d.whole) {
                off = d.end;
                break;
            }
            off = d.end;
            continue;
        }
        if (is(c->id, "INDX")) index = true;
        if (c->size > r.limit() - off) {
            off = r.limit();
            cut = true;
            break;
        }
        off += c->size;
    }
    const bool whole = data && packetsWhole && !cut && (indexOffset == 0 || index);
    Carved rm{"RM", off, !whole};
    // Packet headers are checked, their payload is not: newer bytes can only begin
    // inside the last packet.
    markUnchecked(rm, lastPacket, packetsEnd);
    return rm;
}

bool quick(const uint8_t* s) {
    return std::memcmp(s, ".RMF", 4) == 0 && s[4] == 0 && s[5] == 0 && s[6] == 0 && s[7] >= 18;
}

}  // namespace

const CarverEntry& realMediaCarver() {
    static const CarverEntry entry{"RealMedia", kTypes, quick, carve, "."};
    return entry;
}

}  // namespace kestrum::carve
