// A CIFF file is a header and one root heap whose table of records stands at the
// heap's end, found through the heap's last 4 bytes. Carving forward, the end is
// unknown: the walk looks for the root table by the record every camera writes
// there (0x300A, the image-properties heap) and accepts a table only when its
// pointer, its records and its sub-heaps all describe the heap before it.
#include "carve/CiffCarver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"CRW"};

constexpr uint32_t kMaxRecords = 256;          // in one table; cameras write under 30
constexpr uint32_t kMaxRootRecords = 32;       // cameras write under 10 at the root
constexpr uint32_t kMaxCandidates = 1 << 20;   // tables tried before the search gives up
constexpr uint32_t kMaxCheckedRecords = 4096;  // per candidate table, sub-heaps included
constexpr int kMaxDepth = 6;
constexpr uint64_t kMaxScan = uint64_t{256} << 20;  // camera CRWs stay under 20 MB
constexpr uint16_t kImageProps = 0x300A;
constexpr uint32_t kHeaderSize = 26;

// The edit-settings trailer: a 0x1C-byte header with the block's length at +0x18,
// the block, and a 0x40-byte footer that repeats the header's text.
constexpr char kTrailer[] = "CANON OPTIONAL DATA";  // with its NUL: 20 bytes
constexpr uint64_t kTrailerHead = 0x1C, kTrailerFoot = 0x40;

class Heaps {
public:
    Heaps(ByteReader& r, bool little, uint64_t root) : r_(r), little_(little), root_(root) {}

    // The end of the root heap when the table at `table` (absolute) is its table.
    std::optional<uint64_t> rootEndFor(uint64_t table) {
        const auto n = get16(table);
        if (!n || *n == 0 || *n > kMaxRootRecords) return std::nullopt;
        const uint64_t end = table + 2 + 10ull * *n + 4;
        const auto pointer = get32(end - 4);
        if (!pointer || *pointer != table - root_) return std::nullopt;
        budget_ = kMaxCheckedRecords;
        if (!recordsHold(root_, table - root_, table + 2, *n, 0)) return std::nullopt;
        return end;
    }

private:
    std::optional<uint16_t> get16(uint64_t at) { return little_ ? r_.le16(at) : r_.be16(at); }
    std::optional<uint32_t> get32(uint64_t at) { return little_ ? r_.le32(at) : r_.be32(at); }

    // The heap [start, start + size): the pointer in its last 4 bytes names a table
    // that fits before them.
    bool heapHolds(uint64_t start, uint64_t size, int depth) {
        if (size < 6 || depth > kMaxDepth) return false;
        const auto table = get32(start + size - 4);
        if (!table || *table > size - 6) return false;
        const auto n = get16(start + *table);
        if (!n || *n > kMaxRecords || *table + 2 + 10ull * *n + 4 > size) return false;
        return recordsHold(start, *table, start + *table + 2, *n, depth);
    }

    // The n records at `at` of a heap whose values fill [start, start + dataSize).
    bool recordsHold(uint64_t start, uint64_t dataSize, uint64_t at, uint32_t n, int depth) {
        for (uint32_t i = 0; i < n; ++i) {
            if (budget_-- == 0) return false;
            uint8_t rec[10];
            if (!r_.readExact(at + 10ull * i, rec, sizeof rec)) return false;
            const uint16_t tag = kestrum::get16(rec, little_);
            const uint32_t size = kestrum::get32(rec + 2, little_);
            const uint32_t offset = kestrum::get32(rec + 6, little_);
            switch (tag >> 14) {
                case 0:  // the value lies in the heap
                    if (uint64_t{offset} + size > dataSize) return false;
                    if ((tag & 0x3800) == 0x2800 || (tag & 0x3800) == 0x3000) {
                        if (!heapHolds(start + offset, size, depth + 1)) return false;
                    }
                    break;
                case 1:  // the value is the record's own 8 bytes
                    break;
                default:
                    return false;
            }
        }
        return true;
    }

    ByteReader& r_;
    bool little_;
    uint64_t root_;
    uint32_t budget_ = 0;
};

std::optional<uint64_t> findRootEnd(ByteReader& r, bool little, uint64_t root, bool* cut) {
    Heaps heaps(r, little, root);
    const uint8_t tag[2] = {static_cast<uint8_t>(little ? kImageProps & 0xFF : kImageProps >> 8),
                            static_cast<uint8_t>(little ? kImageProps >> 8 : kImageProps & 0xFF)};
    constexpr size_t kBlock = 256 * 1024;
    std::vector<uint8_t> buf(kBlock);
    const uint64_t stop = std::min(r.limit(), root + kMaxScan);
    *cut = r.limit() > stop;
    uint32_t candidates = 0;
    // The tag stands at table + 2 + 10 i; the table starts in the heap.
    for (uint64_t at = root + 2; at < stop;) {
        const size_t got = r.read(at, buf.data(), std::min<uint64_t>(kBlock, stop - at));
        if (got < 2) break;
        for (size_t k = 0; k + 1 < got; ++k) {
            const uint8_t* hit =
                static_cast<const uint8_t*>(std::memchr(buf.data() + k, tag[0], got - 1 - k));
            if (!hit) break;
            k = static_cast<size_t>(hit - buf.data());
            if (hit[1] != tag[1]) continue;
            const uint64_t q = at + k;
            for (uint64_t i = 0; i < kMaxRootRecords && q >= root + 2 + 10 * i; ++i) {
                if (candidates++ == kMaxCandidates) return std::nullopt;
                if (auto end = heaps.rootEndFor(q - 2 - 10 * i)) return end;
            }
        }
        if (got < kBlock) break;
        at += got - 1;
    }
    return std::nullopt;
}

bool quick(const uint8_t* s) {
    return ((s[0] == 'I' && s[1] == 'I') || (s[0] == 'M' && s[1] == 'M')) &&
           std::memcmp(s + 6, "HEAPCCDR", 8) == 0;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[kHeaderSize];
    if (!r.readExact(0, h, sizeof h) || !quick(h)) return std::nullopt;
    const bool little = h[0] == 'I';
    const auto word = [&](int k) { return get32(h + k, little); };
    // Header length, version 1.x or 0, and 8 reserved bytes of zeros.
    if (word(2) != kHeaderSize || word(14) >> 16 > 1 || word(18) != 0 || word(22) != 0)
        return std::nullopt;
    bool cut = false;
    const auto end = findRootEnd(r, little, kHeaderSize, &cut);
    if (!end) {
        // A real header whose heap table is out of reach or overwritten.
        const uint64_t reach = cut ? kHeaderSize + kMaxScan : r.limit();
        return Carved{kTypes[0], reach, true};
    }
    Carved c{kTypes[0], *end, false};
    uint8_t t[kTrailerHead];
    if (r.readExact(*end, t, sizeof t) && std::memcmp(t, kTrailer, sizeof kTrailer) == 0) {
        const uint64_t block = be32(t + 0x18);
        const uint64_t foot = *end + kTrailerHead + block;
        uint8_t f[sizeof kTrailer];
        if (foot + kTrailerFoot > r.limit()) return Carved{kTypes[0], r.limit(), true};
        if (r.readExact(foot, f, sizeof f) && std::memcmp(f, kTrailer, sizeof kTrailer) == 0)
            c.length = foot + kTrailerFoot;
    }
    return c;
}

}  // namespace

const CarverEntry& ciffCarver() {
    static const CarverEntry kEntry{"Canon CIFF", kTypes, quick, carve, "IM"};
    return kEntry;
}

}  // namespace kestrum::carve
