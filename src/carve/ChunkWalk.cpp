// The chunk-list walk shared by the RIFF and AIFF carvers.
#include "carve/ChunkWalk.h"

#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {

namespace {

bool printable(const char* id) {
    for (int i = 0; i < 4; ++i)
        if (static_cast<uint8_t>(id[i]) < 0x20 || static_cast<uint8_t>(id[i]) > 0x7E) return false;
    return true;
}

}  // namespace

ChunkWalk walkChunks(ByteReader& r, uint64_t from, std::optional<uint64_t> to, bool bigEndian,
                     const ChunkVisitor& visit, uint32_t maxChunks) {
    const uint64_t limit = r.limit();
    uint64_t at = from;
    uint32_t n = 0;
    while (true) {
        if (to && at >= *to) return {*to, ChunkStop::End, n};
        // Fewer bytes than a header before the parent's end: slack some writers leave.
        if (to && *to - at < 8) {
            if (*to > limit) return {limit, ChunkStop::Cut, n};
            return {*to, ChunkStop::End, n};
        }
        if (n >= maxChunks) return {at, ChunkStop::Broken, n};
        uint8_t h[8];
        if (!r.readExact(at, h, 8)) return {at, ChunkStop::Cut, n};
        ChunkHeader c;
        std::memcpy(c.id, h, 4);
        c.size = get32(h + 4, !bigEndian);
        c.offset = at;
        if (!printable(c.id)) return {at, to ? ChunkStop::Broken : ChunkStop::End, n};
        ++n;
        if (!visit(c)) return {at, ChunkStop::Rejected, n};
        uint64_t bodyEnd = 0;
        if (__builtin_add_overflow(at + 8, c.size, &bodyEnd)) return {at, ChunkStop::Broken, n};
        if (to && bodyEnd > *to) {
            if (*to > limit) return {limit, ChunkStop::Cut, n};
            return {*to, ChunkStop::Broken, n};
        }
        if (bodyEnd > limit) return {limit, ChunkStop::Cut, n};
        uint64_t next = bodyEnd + (c.size & 1);
        if (to && next > *to) next = *to;  // the last body's pad byte left out
        if (next > limit) return {limit, ChunkStop::Cut, n};
        at = next;
    }
}

bool sameCode(const char* a, std::string_view b) {
    if (b.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

}  // namespace kestrum::carve
