// An MP4/MOV's sample table says where every sample must be; each H.264/HEVC
// sample is a chain of length-prefixed NAL units that must fill it exactly. A
// faststart file whose samples stop checking out at some offset was cut there by
// an inserted file: the rest is looked for after it, at the one shift of the
// whole tail that makes the following samples check out again.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "carve/Join.h"

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kMaxMoov = 32ull << 20;
constexpr size_t kMaxSamples = 1 << 20;
constexpr int kMaxTopBoxes = 1000;
constexpr int kMaxNals = 4096;
constexpr int kProbeSamples = 8;  // following samples that must check out at a shift
constexpr int kMaxPieceEndsMp4 = 4096;

struct Sample {
    uint64_t offset;
    uint32_t size;
    uint8_t lengthSize;  // bytes of each NAL's length prefix
    bool hevc;
};

struct Box {
    std::string_view type;
    const uint8_t* body;
    size_t size;
};

// The child boxes of a body held in memory.
std::vector<Box> children(const uint8_t* b, size_t n) {
    std::vector<Box> out;
    size_t at = 0;
    while (at + 8 <= n && out.size() < 4096) {
        uint64_t size = be32(b + at);
        size_t head = 8;
        if (size == 1 && at + 16 <= n) size = be64(b + at + 8), head = 16;
        if (size == 0) size = n - at;
        if (size < head || size > n - at) break;
        out.push_back({{reinterpret_cast<const char*>(b + at + 4), 4},
                       b + at + head,
                       static_cast<size_t>(size - head)});
        at += static_cast<size_t>(size);
    }
    return out;
}

const Box* child(const std::vector<Box>& boxes, std::string_view type) {
    for (const Box& b : boxes)
        if (b.type == type) return &b;
    return nullptr;
}

// The samples of one video track whose NAL chains can be checked; none for
// other tracks.
void trackSamples(const Box& trak, std::vector<Sample>& out) {
    const auto t = children(trak.body, trak.size);
    const Box* mdia = child(t, "mdia");
    if (!mdia) return;
    const auto m = children(mdia->body, mdia->size);
    const Box* minf = child(m, "minf");
    if (!minf) return;
    const auto mi = children(minf->body, minf->size);
    const Box* stbl = child(mi, "stbl");
    if (!stbl) return;
    const auto st = children(stbl->body, stbl->size);
    const Box *stsd = child(st, "stsd"), *stsz = child(st, "stsz"), *stsc = child(st, "stsc");
    const Box* stco = child(st, "stco");
    const Box* co64 = child(st, "co64");
    if (!stsd || !stsz || !stsc || (!stco && !co64) || stsd->size < 16) return;

    // The first sample entry: its type and configuration record.
    const std::string_view entry(reinterpret_cast<const char*>(stsd->body + 12), 4);
    const bool avc = entry == "avc1" || entry == "avc3";
    const bool hevc = entry == "hvc1" || entry == "hev1";
    if (!avc && !hevc) return;
    const size_t entrySize = std::min<size_t>(be32(stsd->body + 8), stsd->size - 8);
    if (entrySize < 8 + 78) return;  // visual sample entry fields
    const auto config = children(stsd->body + 8 + 8 + 78, entrySize - 8 - 78);
    const Box* rec = child(config, avc ? "avcC" : "hvcC");
    if (!rec || rec->size < (avc ? 5u : 23u)) return;
    const uint8_t lengthSize = (rec->body[avc ? 4 : 21] & 3) + 1;
    if (lengthSize == 3) return;

    // Chunk offsets, samples per chunk, sample sizes.
    std::vector<uint64_t> chunks;
    const Box* co = co64 ? co64 : stco;
    if (co->size < 8) return;
    const uint64_t nChunks =
        std::min<uint64_t>(be32(co->body + 4), (co->size - 8) / (co64 ? 8 : 4));
    for (uint64_t i = 0; i < nChunks; ++i)
        chunks.push_back(co64 ? be64(co->body + 8 + 8 * i) : be32(co->body + 8 + 4 * i));
    if (stsz->size < 12 || stsc->size < 8) return;
    const uint32_t fixed = be32(stsz->body + 4);
    const uint64_t nSamples = be32(stsz->body + 8);
    if (!fixed && nSamples > (stsz->size - 12) / 4) return;
    const uint64_t nRuns = std::min<uint64_t>(be32(stsc->body + 4), (stsc->size - 8) / 12);
    uint64_t sample = 0;
    for (uint64_t r = 0; r < nRuns && sample < nSamples; ++r) {
        const uint8_t* run = stsc->body + 8 + 12 * r;
        const uint64_t first = be32(run), per = be32(run + 4);
        const uint64_t last = r + 1 < nRuns ? be32(run + 12) : nChunks + 1;
        if (first < 1 || last <= first || per == 0) return;
        for (uint64_t c = first; c < last && c <= nChunks && sample < nSamples; ++c) {
            uint64_t at = chunks[c - 1];
            for (uint64_t k = 0; k < per && sample < nSamples; ++k, ++sample) {
                const uint32_t size = fixed ? fixed : be32(stsz->body + 12 + 4 * sample);
                if (out.size() >= kMaxSamples) return;
                out.push_back({at, size, lengthSize, hevc});
                at += size;
            }
        }
    }
}

// Checks a sample's NAL chain; on failure `bad` is the offset of the read
// that failed and `good` the end of the last prefix that checked out.
bool checkSample(ByteReader& file, const Sample& s, uint64_t& good, uint64_t& bad) {
    uint64_t at = s.offset, last = s.offset, lastGood = good;
    const uint64_t end = s.offset + s.size;
    for (int n = 0; n < kMaxNals && at < end; ++n) {
        uint8_t h[6];
        const size_t need = s.lengthSize + 2u;
        if (at + need > end || !file.readExact(at, h, need)) break;
        last = at;
        uint32_t length = 0;
        for (int k = 0; k < s.lengthSize; ++k) length = length << 8 | h[k];
        const uint8_t* nal = h + s.lengthSize;
        bool ok = length >= 2 && (nal[0] & 0x80) == 0;
        // HEVC: type below 48 and a temporal id; any layer (multi-view video).
        if (s.hevc)
            ok = ok && (nal[0] >> 1) < 48 && (nal[1] & 7) != 0;
        else
            ok = ok && (nal[0] & 0x1F) != 0 && (nal[0] & 0x1F) < 24;
        if (!ok) break;
        at += s.lengthSize + uint64_t{length};
        lastGood = good;
        good = at - length + 2;
    }
    if (at == end) return true;
    // A length that overshot the sample: foreign bytes began at that read, not
    // wherever their "length" pointed.
    if (at > end) {
        bad = last;
        good = lastGood;
    } else {
        bad = at;
    }
    return false;
}

// The first sample (by offset) from `from` on that fails, or samples.size().
size_t firstFailure(ByteReader& file, const std::vector<Sample>& samples, size_t from,
                    uint64_t& good, uint64_t& bad) {
    for (size_t i = from; i < samples.size(); ++i)
        if (!checkSample(file, samples[i], good, bad)) return i;
    return samples.size();
}

// The file's end by its top-level boxes, read through `file`; where the last
// box that parses ends.
uint64_t boxesEnd(ByteReader& file) {
    static constexpr std::string_view kKnown[] = {"ftyp", "moov", "mdat", "free", "skip",
                                                  "wide", "uuid", "udta", "meta", "pnot"};
    uint64_t at = 0;
    for (int n = 0; n < kMaxTopBoxes; ++n) {
        uint8_t h[16];
        if (!file.readExact(at, h, 8)) break;
        const std::string_view type(reinterpret_cast<const char*>(h + 4), 4);
        if (std::find(std::begin(kKnown), std::end(kKnown), type) == std::end(kKnown)) break;
        uint64_t size = be32(h);
        if (size == 1) {
            if (!file.readExact(at, h, 16)) break;
            size = be64(h + 8);
        }
        if (size < 8 || at + size > file.limit()) break;
        at += size;
    }
    return at;
}

// A view of the medium from `at` on.
class From final : public ByteReader {
public:
    From(ByteReader& m, uint64_t at)
        : m_(m), at_(at), limit_(m.limit() > at ? m.limit() - at : 0) {}
    uint64_t limit() const override { return limit_; }
    size_t read(uint64_t o, void* out, size_t n) override {
        return o >= limit_ ? 0 : m_.read(at_ + o, out, n);
    }

private:
    ByteReader& m_;
    uint64_t at_, limit_;
};

bool isTaken(std::span<const SectorSpan> taken, uint64_t sector) {
    return std::any_of(taken.begin(), taken.end(), [&](const SectorSpan& t) {
        return sector >= t.first && sector - t.first < t.count;
    });
}

}  // namespace

Mp4Join checkMp4Join(ByteReader& medium, const JoinRequest& q) {
    Mp4Join result;
    const uint64_t base = q.startSector * kSector;
    From file(medium, base);

    // The moov must come before the mdat: a table read from the first piece.
    uint64_t at = 0, moovAt = 0, moovSize = 0;
    for (int n = 0; n < kMaxTopBoxes && moovSize == 0; ++n) {
        uint8_t h[16];
        if (!file.readExact(at, h, 16)) return result;
        uint64_t size = be32(h);
        if (size == 1) size = be64(h + 8);
        const std::string_view type(reinterpret_cast<const char*>(h + 4), 4);
        if (type == "mdat" || size < 8) return result;
        if (type == "moov") moovAt = at, moovSize = size;
        at += size;
    }
    // Allocated only for bytes that are there.
    if (moovSize < 16 || moovSize > kMaxMoov || moovAt + moovSize > file.limit()) return result;
    std::vector<uint8_t> moov(static_cast<size_t>(moovSize - 8));
    if (!file.readExact(moovAt + 8, moov.data(), moov.size())) return result;
    std::vector<Sample> samples;
    for (const Box& b : children(moov.data(), moov.size()))
        if (b.type == "trak") trackSamples(b, samples);
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.offset < b.offset; });
    if (samples.empty()) return result;
    result.checkedSamples = static_cast<int>(samples.size());

    uint64_t good = 0, bad = 0;
    const size_t fail = firstFailure(file, samples, 0, good, bad);
    if (fail == samples.size()) {
        result.kind = Mp4Join::Kind::kIntact;
        return result;
    }
    result.kind = Mp4Join::Kind::kBroken;
    result.breakAt = bad;
    if (q.resumeSector <= q.startSector) return result;

    // The first piece ends at a sector start after the last good read and at or
    // before the failing one; the samples wholly after that read fix the shift.
    const uint64_t lowG = (good + kSector - 1) / kSector * kSector;
    const uint64_t highG =
        std::min<uint64_t>((bad + 8) / kSector * kSector, lowG + kMaxPieceEndsMp4 * kSector);
    if (lowG > highG) return result;
    size_t probe = fail;
    while (probe < samples.size() && samples[probe].offset < highG + kSector) ++probe;
    if (probe == samples.size()) return result;

    const uint64_t from = q.resumeSector * kSector;
    const uint64_t to = std::min(medium.limit(), from + kJoinWindowSectors * kSector);
    std::vector<uint64_t> pieceEnds;
    if (q.pieceEndHint > q.startSector) {
        pieceEnds.push_back((q.pieceEndHint - q.startSector) * kSector);
    } else {
        for (uint64_t g = lowG; g <= highG; g += kSector) pieceEnds.push_back(g);
    }
    // The shift d: a sample at file offset o past the first piece is at
    // base + o + d on the medium. The probe samples lie past every candidate
    // end, so they fix d whatever the end; the end is then the first that puts
    // the continuation in the window and lets every sample check out.
    const uint64_t lowD = from > base + highG ? (from - base - highG) : 0;
    for (uint64_t d = lowD / kSector * kSector; base + lowG + d < to; d += kSector) {
        From shifted(medium, base + d);
        uint64_t pg = 0, pb = 0;
        bool fits = true;
        for (size_t i = probe; i < samples.size() && i < probe + kProbeSamples && fits; ++i)
            fits = checkSample(shifted, samples[i], pg, pb);
        if (!fits) continue;
        for (const uint64_t g : pieceEnds) {
            const uint64_t c = base + g + d;
            if (g < kSector || c < from || c >= to || isTaken(q.taken, c / kSector)) continue;
            PiecedReader joined(medium, base, g, c);
            if (firstFailure(joined, samples, 0, pg, pb) != samples.size()) continue;
            result.kind = Mp4Join::Kind::kJoined;
            result.join = {g, c / kSector, boxesEnd(joined)};
            return result;
        }
    }
    return result;
}

}  // namespace kestrum::carve
