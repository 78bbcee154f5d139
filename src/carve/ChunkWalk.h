// Walks the IFF-style chunk lists that RIFF, AIFF and their relatives share: a
// four-character id, a 32-bit body size, and a body padded to an even length.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "carve/ByteReader.h"

namespace kestrum::carve {

struct ChunkHeader {
    char id[4];
    uint64_t size;    // the body's, pad byte not counted
    uint64_t offset;  // of the header
    uint64_t body() const { return offset + 8; }
    bool is(std::string_view four) const { return four == std::string_view(id, 4); }
};

enum class ChunkStop {
    End,       // the parent's end was met, or (size unknown) bytes that are no chunk header
    Broken,    // a header that is no chunk, or a body past the parent's end, inside the parent
    Cut,       // the reader's limit came first
    Rejected,  // the visitor said the bytes are not this format
};

struct ChunkWalk {
    uint64_t end;  // where the valid chunk bytes end
    ChunkStop stop;
    uint32_t chunks;  // headers visited
};

// The visitor sees each header before the walk steps over its body; returning
// false stops the walk as Rejected. It may replace a size the header leaves open
// (RF64 keeps the real ones in its ds64 chunk).
using ChunkVisitor = std::function<bool(ChunkHeader&)>;

// Chunks from `from` up to `to` (the parent's end; none when the writer left the
// size unknown). Ids must be printable ASCII.
ChunkWalk walkChunks(ByteReader& r, uint64_t from, std::optional<uint64_t> to, bool bigEndian,
                     const ChunkVisitor& visit, uint32_t maxChunks = 1'000'000);

// A four-character code compared without regard to ASCII case.
bool sameCode(const char* a, std::string_view b);

}  // namespace kestrum::carve
