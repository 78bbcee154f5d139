// Joining a JPEG fragmented around other files: the continuation is looked for
// at sector starts after them, among those whose bytes read as entropy-coded
// data up to an end of image, and taken only when the joined picture decodes
// cleanly. The bytes after a picture's end that still belong to it are found
// here too.
#include <algorithm>
#include <cstring>
#include <vector>

#include "carve/ImageTrailers.h"
#include "carve/Join.h"
#include "carve/JpegCarver.h"

namespace kestrum::carve {
namespace {

constexpr uint64_t kSector = 512;
constexpr size_t kBlock = 256 * 1024;
// How far past the window a continuation starting inside it may run to its end.
constexpr uint64_t kMaxTail = 64ull << 20;
constexpr int kMaxTrailerSteps = 8;
constexpr int kMaxTrailerDepth = 4;
constexpr int kMaxIfdEntries = 512;

// A view of `outer` from `at` on, at most `bytes` long.
class OffsetReader final : public ByteReader {
public:
    OffsetReader(ByteReader& outer, uint64_t at, uint64_t bytes = UINT64_MAX)
        : outer_(outer), at_(at), limit_(outer.limit() > at ? outer.limit() - at : 0) {
        limit_ = std::min(limit_, bytes);
    }
    uint64_t limit() const override { return limit_; }
    size_t read(uint64_t offset, void* out, size_t n) override {
        if (offset >= limit_) return 0;
        return outer_.read(at_ + offset, out,
                           static_cast<size_t>(std::min<uint64_t>(n, limit_ - offset)));
    }

private:
    ByteReader& outer_;
    uint64_t at_, limit_;
};

// Where entropy-coded data starting at a sector stops: an end of image (the
// continuation's candidate end), the tables and header of a progressive
// picture's next scan (it goes on), or any other marker (not a continuation).
struct Event {
    uint64_t at;  // absolute offset of the FF
    uint8_t marker;
};

bool betweenScans(uint8_t m) {
    return m == 0xC4 || m == 0xDA || m == 0xDB || m == 0xDD || m == 0xFE;
}

// One pass over [from, to) and on to the first event after `to` that ends a
// run of scans (at most kMaxTail further): every FF that is neither stuffing,
// fill nor a restart.
std::vector<Event> entropyEvents(ByteReader& medium, uint64_t from, uint64_t to) {
    std::vector<Event> events;
    std::vector<uint8_t> buf(kBlock);
    const uint64_t stop = std::min(medium.limit(), to + kMaxTail);
    uint64_t at = from;
    while (at + 1 < stop) {
        const size_t got = medium.read(at, buf.data(), std::min<uint64_t>(kBlock, stop - at));
        if (got < 2) break;
        size_t i = 0;
        for (; i + 1 < got; ++i) {
            if (buf[i] != 0xFF) continue;
            const uint8_t next = buf[i + 1];
            if (next == 0x00 || next == 0xFF || (next >= 0xD0 && next <= 0xD7)) continue;
            events.push_back({at + i, next});
            if (at + i >= to && !betweenScans(next)) return events;
        }
        at += i;  // the last byte may start a marker: read again
    }
    return events;
}

bool isTaken(std::span<const SectorSpan> taken, uint64_t sector) {
    return std::any_of(taken.begin(), taken.end(), [&](const SectorSpan& t) {
        return sector >= t.first && sector - t.first < t.count;
    });
}

// A maker note's preview placed after the end of image (Minolta's
// PreviewImageStart / Length in an IFD at the maker note's start): its end, or
// 0. Offsets count from the Exif TIFF header.
uint64_t makerPreviewEnd(ByteReader& file, uint64_t eoiEnd) {
    uint64_t pos = 2;
    for (int n = 0; n < 32; ++n) {  // the Exif block is among the first segments
        const auto m = file.be16(pos), length = file.be16(pos + 2);
        if (!m || !length || (*m & 0xFF00) != 0xFF00 || *m == 0xFFDA || *length < 2) return 0;
        uint8_t id[6];
        if (*m == 0xFFE1 && file.readExact(pos + 4, id, 6) && std::memcmp(id, "Exif\0\0", 6) == 0)
            break;
        pos += 2 + *length;
        if (n == 31) return 0;
    }
    const uint64_t tiff = pos + 10;
    uint8_t h[4];
    if (!file.readExact(tiff, h, 4)) return 0;
    const bool little = h[0] == 'I';
    if (!(std::memcmp(h, "II*\0", 4) == 0 || std::memcmp(h, "MM\0*", 4) == 0)) return 0;
    auto u16 = [&](uint64_t o) -> std::optional<uint32_t> {
        const auto v = little ? file.le16(o) : file.be16(o);
        return v ? std::optional<uint32_t>(*v) : std::nullopt;
    };
    auto u32 = [&](uint64_t o) { return little ? file.le32(o) : file.be32(o); };
    // The value of `tag` in the directory at tiff + ifd.
    auto find = [&](uint64_t ifd, uint16_t tag) -> std::optional<uint32_t> {
        const auto count = u16(tiff + ifd);
        if (!count || *count > kMaxIfdEntries) return std::nullopt;
        for (uint32_t e = 0; e < *count; ++e) {
            const uint64_t at = tiff + ifd + 2 + 12ull * e;
            if (u16(at) == tag) return u32(at + 8);
        }
        return std::nullopt;
    };
    const auto first = u32(tiff + 4);
    if (!first) return 0;
    const auto exif = find(*first, 0x8769);
    const auto note = exif ? find(*exif, 0x927C) : std::nullopt;
    const auto start = note ? find(*note, 0x0088) : std::nullopt;
    const auto bytes = note ? find(*note, 0x0089) : std::nullopt;
    if (!start || !bytes || *bytes < 4) return 0;
    const uint64_t at = tiff + *start, end = at + *bytes;
    if (at < eoiEnd - 2 || end > file.limit() || file.be16(at) != 0xFFD8) return 0;
    return end;
}

}  // namespace

PiecedReader::PiecedReader(ByteReader& medium, uint64_t first, uint64_t firstBytes, uint64_t second)
    : medium_(medium), first_(first), firstBytes_(firstBytes), second_(second) {
    limit_ = firstBytes + (medium.limit() > second ? medium.limit() - second : 0);
}

size_t PiecedReader::read(uint64_t offset, void* out, size_t n) {
    if (offset >= limit_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, limit_ - offset));
    auto* o = static_cast<uint8_t*>(out);
    size_t done = 0;
    if (offset < firstBytes_) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n, firstBytes_ - offset));
        done = medium_.read(first_ + offset, o, take);
        if (done < take) return done;
    }
    if (done < n) done += medium_.read(second_ + (offset + done - firstBytes_), o + done, n - done);
    return done;
}

std::optional<Joined> joinJpeg(ByteReader& medium, const JoinRequest& q) {
    const uint64_t base = q.startSector * kSector;
    if (q.breakAt < 2 * kSector || q.resumeSector <= q.startSector) return std::nullopt;

    // Where the first piece may end: where the interrupting file starts, else the
    // sector starts at and before the break.
    std::vector<uint64_t> ends;
    const uint64_t lastEnd = q.breakAt / kSector * kSector;
    if (q.pieceEndHint > q.startSector) {
        const uint64_t b = (q.pieceEndHint - q.startSector) * kSector;
        if (b <= lastEnd + kSector) ends.push_back(b);
    } else {
        for (int k = 0; k < kMaxPieceEnds && lastEnd >= (k + 1) * kSector; ++k)
            ends.push_back(lastEnd - k * kSector);
    }
    if (ends.empty()) return std::nullopt;

    const uint64_t from = q.resumeSector * kSector;
    const uint64_t to = std::min(medium.limit(), from + kJoinWindowSectors * kSector);
    if (from >= to) return std::nullopt;
    const std::vector<Event> events = entropyEvents(medium, from, to);
    // For each event, the first one from it on that is not between two scans.
    std::vector<size_t> stop(events.size() + 1, events.size());
    for (size_t i = events.size(); i-- > 0;)
        stop[i] = betweenScans(events[i].marker) ? stop[i + 1] : i;
    int decodes = 0;
    uint64_t decoded = 0;
    size_t next = 0;  // the first event at or after the candidate
    for (uint64_t c = from; c < to; c += kSector) {
        while (next < events.size() && events[next].at < c) ++next;
        if (stop[next] == events.size()) break;
        const Event e = events[stop[next]];
        if (e.marker != 0xD9 || isTaken(q.taken, c / kSector)) continue;
        for (const uint64_t b : ends) {
            if (c < base + b) continue;
            if (++decodes > kMaxJoinDecodes || decoded > kMaxJoinDecodeBytes) return std::nullopt;
            if (q.decodedSoFar && *q.decodedSoFar >= q.decodeAllowance) return std::nullopt;
            PiecedReader joined(medium, base, b, c);
            const uint64_t eoiEnd = b + (e.at + 2 - c);
            OffsetReader bounded(joined, 0, eoiEnd);  // the decode reads no further
            const JpegDecode d = decodeJpeg(bounded, b);
            // Progressive scans go over the picture several times.
            const uint64_t cost = (d.clean ? d.end : d.troubleAt) * (d.progressive ? 4 : 1);
            decoded += cost;
            if (q.decodedSoFar) *q.decodedSoFar += cost;
            if (!d.clean || d.end != eoiEnd) continue;
            return Joined{b, c / kSector, jpegTrailerEnd(joined, eoiEnd)};
        }
    }
    return std::nullopt;
}

uint64_t jpegTrailerEnd(ByteReader& file, uint64_t eoiEnd) {
    // Each picture found after the end measures its own trailers in turn: a run of
    // tiny pictures must not nest without bound.
    static thread_local int depth = 0;
    if (depth >= kMaxTrailerDepth) return trailersEnd(file, eoiEnd);
    ++depth;
    struct Leave {
        ~Leave() { --depth; }
    } leave;
    uint64_t end = std::max(eoiEnd, makerPreviewEnd(file, eoiEnd));
    for (int step = 0; step < kMaxTrailerSteps; ++step) {
        uint64_t at = trailersEnd(file, end);
        // A picture at a sector start is the scan's to find on its own.
        if (at % kSector != 0 && file.be16(at) == 0xFFD8) {
            OffsetReader picture(file, at);
            const auto c = jpegCarver().carve(picture);
            if (c && !c->partial) at += c->length;
        }
        if (at == end) break;
        end = at;
    }
    return end;
}

}  // namespace kestrum::carve
