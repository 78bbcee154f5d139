// Matroska / WebM: an EBML header naming the document type, then one Segment.
// The Segment's children are walked by their sizes (clusters of unknown size by
// their own children) so a stream written to a pipe, which never learns its
// sizes, is measured as exactly as a finished file.
#include "carve/MatroskaCarver.h"

#include <array>
#include <cstring>
#include <string_view>

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"MKV"};
constexpr int kMaxElements = 1'000'000;

constexpr uint32_t kEbml = 0x1A45DFA3, kSegment = 0x18538067, kCluster = 0x1F43B675;
constexpr uint32_t kVoid = 0xEC, kCrc32 = 0xBF;
constexpr uint32_t kTracks = 0x1654AE6B, kInfo = 0x1549A966;

bool segmentChild(uint32_t id) {
    switch (id) {
        case 0x114D9B74:  // SeekHead
        case kInfo:
        case kTracks:
        case kCluster:
        case 0x1C53BB6B:  // Cues
        case 0x1941A469:  // Attachments
        case 0x1043A770:  // Chapters
        case 0x1254C367:  // Tags
        case kVoid:
        case kCrc32:
            return true;
        default:
            return false;
    }
}

struct Element {
    uint32_t id = 0;
    uint64_t size = 0;     // payload bytes; meaningless when unknown
    bool unknown = false;  // every value bit of the size set
    uint32_t header = 0;   // id and size bytes
};

// The element header at off; none where the bytes are no valid variable-length id and size.
std::optional<Element> elementAt(ByteReader& r, uint64_t off) {
    uint8_t h[12];
    const size_t got = r.read(off, h, sizeof h);
    if (got < 2 || h[0] == 0) return std::nullopt;
    const int idLen = __builtin_clz(uint32_t{h[0]}) - 23;  // 1..8 for a non-zero byte
    if (idLen > 4 || got < static_cast<size_t>(idLen) + 1) return std::nullopt;
    Element e;
    for (int i = 0; i < idLen; ++i) e.id = e.id << 8 | h[i];
    const uint8_t first = h[idLen];
    if (first == 0) return std::nullopt;
    const int sizeLen = __builtin_clz(uint32_t{first}) - 23;
    if (got < static_cast<size_t>(idLen + sizeLen)) return std::nullopt;
    uint64_t value = first & (0xFFu >> sizeLen);
    bool allOnes = value == (0xFFu >> sizeLen);
    for (int i = 1; i < sizeLen; ++i) {
        value = value << 8 | h[idLen + i];
        allOnes = allOnes && h[idLen + i] == 0xFF;
    }
    e.size = value;
    e.unknown = allOnes;
    e.header = static_cast<uint32_t>(idLen + sizeLen);
    return e;
}

// The EBML header's children: the document type must be Matroska's or WebM's and
// the versions a reader needs must be ones that exist.
bool headerValid(ByteReader& r, const Element& head) {
    if (head.unknown || head.size < 3 || head.size > 512) return false;
    uint64_t off = head.header;
    const uint64_t end = head.header + head.size;
    bool docType = false;
    for (int n = 0; n < 64 && off < end; ++n) {
        const auto e = elementAt(r, off);
        if (!e || e->unknown || e->header > end - off || e->size > end - off - e->header)
            return false;
        const uint64_t body = off + e->header;
        uint64_t number = 0;
        if (e->size <= 8) {
            uint8_t b[8];
            if (!r.readExact(body, b, e->size)) return false;
            for (uint64_t i = 0; i < e->size; ++i) number = number << 8 | b[i];
        }
        switch (e->id) {
            case 0x4282: {  // DocType, zero-padded
                char t[16]{};
                if (e->size == 0 || e->size > sizeof t || !r.readExact(body, t, e->size))
                    return false;
                const std::string_view name(t, strnlen(t, e->size));
                if (name != "matroska" && name != "webm") return false;
                docType = true;
                break;
            }
            case 0x4286:  // EBMLVersion
            case 0x42F7:  // EBMLReadVersion
                if (e->size > 8 || number != 1) return false;
                break;
            case 0x42F2:  // EBMLMaxIDLength
                if (e->size > 8 || number < 1 || number > 4) return false;
                break;
            case 0x42F3:  // EBMLMaxSizeLength
                if (e->size > 8 || number < 1 || number > 8) return false;
                break;
            case 0x4287:  // DocTypeVersion
            case 0x4285:  // DocTypeReadVersion
                if (e->size > 8 || number < 1 || number > 16) return false;
                break;
            default:  // Void, CRC-32, DocTypeExtension and the like
                break;
        }
        off = body + e->size;
    }
    return docType && off == end;
}

struct Walk {
    uint64_t end = 0;           // after the last whole element
    bool boundIsLimit = false;  // bound is where the medium stops, not where the file does
    bool cut = false;           // an element ran past the limit
    bool tracks = false, cluster = false;
    int elements = 0;
    uint64_t firstBlocks = 0, blocksEnd = 0;  // the span of the clusters' contents
    uint64_t lastChild = 0;                   // the last cluster child walked
};

// A cluster child whose payload fits its id: a block starts with a small track
// number, fixed-width numbers have 1 to 8 bytes, a checksum 4.
bool clusterChildValid(ByteReader& r, uint64_t off, const Element& e) {
    switch (e.id) {
        case 0xE7:  // Timestamp
        case 0xA7:  // Position
        case 0xAB:  // PrevSize
            return e.size >= 1 && e.size <= 8;
        case kCrc32:
            return e.size == 4;
        case 0xA3: {  // SimpleBlock: track number, 16-bit time, flags
            const auto track = r.u8(off + e.header);
            return e.size >= 4 && track && *track > 0x80 && *track < 0xFF;
        }
        case 0xA0: {  // BlockGroup: opens with one of its own children
            const auto first = elementAt(r, off + e.header);
            if (!first || e.size < 2) return false;
            switch (first->id) {
                case 0xA1:    // Block
                case 0x9B:    // BlockDuration
                case 0xFB:    // ReferenceBlock
                case 0x75A1:  // BlockAdditions
                case 0xA4:    // CodecState
                case 0x75A2:  // DiscardPadding
                case kVoid:
                case kCrc32:
                    return true;
                default:
                    return false;
            }
        }
        case kVoid:
        case 0x5854:  // SilentTracks
            return true;
        default:
            return false;
    }
}

// Children of an unknown-size cluster from off until an id that cannot be one;
// its Timestamp comes before any block, after a checksum or padding at most.
void walkCluster(ByteReader& r, uint64_t off, uint64_t bound, bool boundIsLimit, Walk& w) {
    w.end = off;
    if (w.firstBlocks == 0) w.firstBlocks = off;
    bool timestamp = false;
    while (w.elements++ < kMaxElements && off < bound) {
        const auto e = elementAt(r, off);
        if (!e || e->unknown || !clusterChildValid(r, off, *e)) return;
        if (e->id == 0xE7) timestamp = true;
        w.lastChild = off;
        if (!timestamp && e->id != kCrc32 && e->id != kVoid) return;
        const uint64_t room = bound - off;
        if (e->header > room || e->size > room - e->header) {
            w.cut = boundIsLimit;
            if (w.cut) w.end = bound;
            return;
        }
        off += e->header + e->size;
        w.end = off;
    }
}

// The Segment's children from off to bound (the Segment's end, or the limit for
// an unknown size); w.end is where the valid run of elements stops.
void walkSegment(ByteReader& r, uint64_t off, uint64_t bound, Walk& w) {
    w.end = off;
    while (w.elements++ < kMaxElements && off < bound) {
        const auto e = elementAt(r, off);
        if (!e || !segmentChild(e->id)) return;
        if (e->id == kTracks) w.tracks = true;
        if (e->id == kCluster) w.cluster = true;
        if (e->unknown) {
            if (e->id != kCluster) return;
            const uint64_t before = w.end;
            walkCluster(r, off + e->header, bound, w.boundIsLimit, w);
            if (w.cut || w.end == off + e->header) {
                if (!w.cut) w.end = before;  // a cluster without children is no cluster
                return;
            }
            w.blocksEnd = w.end;
            off = w.end;
            continue;
        }
        const uint64_t room = bound - off;
        if (e->header > room || e->size > room - e->header) {
            // Past the limit it is a cut file; past a known Segment end, a broken one.
            w.cut = w.boundIsLimit;
            if (w.cut) w.end = bound;
            if (e->id == kCluster) {
                // What of it the block chain vouches for stays with the file.
                walkCluster(r, off + e->header, bound, w.cut, w);
                if (w.end > off + e->header)
                    w.blocksEnd = w.end;
                else
                    w.end = off;
            }
            return;
        }
        if (e->id == kCluster) {
            // The size is no proof: the blocks must fill the cluster to its end.
            const uint64_t end = off + e->header + e->size;
            walkCluster(r, off + e->header, end, false, w);
            if (w.cut || w.end != end) {
                if (w.end > off + e->header)
                    w.blocksEnd = w.end;
                else
                    w.end = off;
                return;
            }
            w.blocksEnd = end;
        }
        off += e->header + e->size;
        w.end = off;
    }
}

std::optional<Carved> carve(ByteReader& r) {
    const auto head = elementAt(r, 0);
    if (!head || head->id != kEbml || !headerValid(r, *head)) return std::nullopt;
    uint64_t off = head->header + head->size;
    auto seg = elementAt(r, off);
    for (int n = 0; n < 4 && seg && seg->id == kVoid && !seg->unknown; ++n) {
        off += seg->header + seg->size;
        seg = elementAt(r, off);
    }
    if (!seg || seg->id != kSegment) return std::nullopt;

    const uint64_t body = off + seg->header;
    const uint64_t limit = r.limit();
    uint64_t bound = limit;
    bool known = !seg->unknown && body <= limit && seg->size <= UINT64_MAX - body;
    if (known) bound = std::min(limit, body + seg->size);
    Walk w;
    w.boundIsLimit = !known || body + seg->size > limit;
    walkSegment(r, body, bound, w);
    if (w.end == body) return std::nullopt;  // not one child checks out

    Carved c{"MKV", w.end, true};
    if (known && body + seg->size <= limit && w.end == body + seg->size) {
        c.partial = false;
    } else if (!known) {
        // Unknown size: the run of segment-level elements is the file; it is whole
        // when it has what a player needs and nothing was cut.
        c.partial = !(w.tracks && w.cluster && !w.cut && w.elements < kMaxElements);
    }
    // The frames inside the blocks are checked by nothing, but a whole block chain
    // vouches for all but its last block (a motion-JPEG frame may start a sector).
    markUnchecked(c, c.partial ? w.firstBlocks : w.lastChild, w.blocksEnd);
    return c;
}

bool quick(const uint8_t* s) {
    return s[0] == 0x1A && s[1] == 0x45 && s[2] == 0xDF && s[3] == 0xA3;
}

}  // namespace

const CarverEntry& matroskaCarver() {
    static const CarverEntry entry{"Matroska", kTypes, quick, carve, "\x1A"};
    return entry;
}

}  // namespace kestrum::carve
