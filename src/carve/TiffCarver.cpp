// Walks a TIFF file's directories (the IFD chain, sub-IFDs, the Exif, GPS and
// Interop directories, makers' notes) and takes the furthest byte any of them
// names: the directories, out-of-line values, strips, tiles and thumbnails.
#include "carve/TiffCarver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 16> kTypes{"TIFF", "CR2", "NEF", "PEF", "ORF", "SR2",
                                                  "ERF",  "DNG", "RAW", "MEF", "DCR", "ARW",
                                                  "NRW",  "SRW", "3FR", "IIQ"};

// Walk bounds: far above any real file, low enough that no byte pattern keeps a
// walk busy for long.
constexpr size_t kMaxIfds = 8192;
constexpr uint32_t kMaxEntries = 1000;  // in one directory
constexpr uint64_t kMaxTotalEntries = 1 << 20;
constexpr uint64_t kMaxArrayValues = 1 << 22;  // strip and tile offsets, all directories
constexpr uint32_t kMaxSubIfds = 64;

enum class Magic : uint8_t { kTiff, kOrf, kRw2 };

struct Header {
    bool little = true;
    Magic magic = Magic::kTiff;
    uint32_t ifd0 = 0;
};

std::optional<Header> readHeader(const uint8_t* b) {
    Header h;
    if (b[0] == 'I' && b[1] == 'I') {
        h.little = true;
    } else if (b[0] == 'M' && b[1] == 'M') {
        h.little = false;
    } else {
        return std::nullopt;
    }
    switch (get16(b + 2, h.little)) {
        case 42:
            h.magic = Magic::kTiff;
            break;
        case 0x4F52:  // "IIRO", "MMOR"
        case 0x5352:  // "IIRS"
            h.magic = Magic::kOrf;
            break;
        case 0x0055:  // "IIU\0"
            if (!h.little) return std::nullopt;
            h.magic = Magic::kRw2;
            break;
        default:
            return std::nullopt;
    }
    h.ifd0 = get32(b + 4, h.little);
    if (h.ifd0 < 8) return std::nullopt;
    return h;
}

constexpr uint8_t kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
constexpr uint16_t kShort = 3, kLong = 4, kIfdType = 13;

// Where an entry's values stand (inside the entry when they fit in 4 bytes).
struct Values {
    uint16_t type = 0;
    uint32_t count = 0;
    uint64_t at = 0;
};

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The entries a walk acts on, beyond covering their values.
enum Slot : uint8_t {
    kStripOffsets,
    kStripCounts,
    kTileOffsets,
    kTileCounts,
    kJpegOffset,
    kJpegLength,
    kRawOffset,  // RW2's RawDataOffset, measured with the strip byte counts
    kSr2Offset,  // the enciphered block a Sony private directory points at
    kSr2Length,
    kSubIfds,
    kExif,
    kGps,
    kInterop,
    kKodak,
    kSonyPrivate,
    kMakerNote,
    kMake,
    kModel,
    kSlotCount,
    kNoSlot = kSlotCount,
};

enum class Kind : uint8_t {
    kChain,   // IFD0, its successors and SubIFDs: the next-IFD link is followed
    kLeaf,    // Exif, GPS, Interop: no link
    kMaker,   // a maker's directory: its faults are ignored, it adds only bytes inside the limit
    kPentax,  // a Pentax maker's directory, which also names the preview image
};

bool isMaker(Kind k) {
    return k == Kind::kMaker || k == Kind::kPentax;
}

struct Pending {
    uint64_t at;
    uint64_t base;  // what its offsets count from
    Kind kind;
    bool little;
};

Slot slotOf(uint16_t tag, Kind kind, Magic magic) {
    switch (tag) {
        case 0x111:
            return kStripOffsets;
        case 0x117:
            return kStripCounts;
        case 0x144:
            return kTileOffsets;
        case 0x145:
            return kTileCounts;
        case 0x201:
            return kJpegOffset;
        case 0x202:
            return kJpegLength;
        default:
            break;
    }
    if (kind == Kind::kPentax && (tag == 3 || tag == 4))
        return tag == 4 ? kJpegOffset : kJpegLength;
    if (isMaker(kind)) return kNoSlot;
    switch (tag) {
        case 0x118:
            return magic == Magic::kRw2 ? kRawOffset : kNoSlot;
        case 0x7200:
            return kSr2Offset;
        case 0x7201:
            return kSr2Length;
        case 0x14A:
            return kSubIfds;
        case 0x8769:
            return kExif;
        case 0x8825:
            return kGps;
        case 0xA005:
            return kInterop;
        case 0x8290:
            return kKodak;
        case 0xC634:
            return kSonyPrivate;
        case 0x927C:
            return kMakerNote;
        case 0x10F:
            return kMake;
        case 0x110:
            return kModel;
        default:
            return kNoSlot;
    }
}

// Tags an image's directory holds: size, samples, compression, maker, image data,
// sub-directories, DNG version.
bool isStructural(uint16_t tag) {
    static constexpr uint16_t kTags[] = {0xFE,  0x100, 0x101, 0x102, 0x103, 0x106, 0x10F,  0x110,
                                         0x111, 0x117, 0x144, 0x145, 0x14A, 0x201, 0x8769, 0xC612};
    return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

// One directory as read, before it is trusted.
struct Ifd {
    std::array<Values, kSlotCount> slots{};
    std::array<uint16_t, 16> children{};  // indexes of a maker directory's type-13 entries
    uint8_t childCount = 0;
    uint64_t furthest = 0;
    // The directory's own end: its values are read, never checked (XMP, private
    // maker data, numbers alike), so they vouch for nothing.
    uint64_t vouched = 0;
    bool beyond = false;
    bool structural = false;  // holds a tag every image file directory has
    bool dng = false;
    bool rawHint = false;
    uint32_t next = 0;
};

class Walker {
public:
    Walker(ByteReader& r, const Header& h) : r_(r), header_(h) {}

    // False when IFD0 is not a believable directory.
    bool run(bool crMarker);

    uint64_t furthest = 0;
    // The furthest byte of what could be checked: directories and data that opens
    // as a JPEG stream (previews, thumbnails, lossless raws).
    uint64_t checked = 0;
    // Sector-aligned places where a directory puts data of its own (a preview,
    // strips): a file found there is this one's.
    std::vector<uint64_t> own;
    bool beyond = false;               // something named lies past the limit
    std::optional<uint64_t> brokenAt;  // a linked directory that does not hold up
    bool dng = false;
    bool rawHint = false;
    std::string make;
    std::string model;

private:
    bool read(const Pending& p, Ifd& d, bool first);
    void commit(const Pending& p, const Ifd& d);
    void push(uint64_t at, uint64_t base, Kind kind, bool little);
    void cover(uint64_t at, uint64_t n, bool strict);
    std::optional<uint32_t> value(const Values& v, uint32_t i, bool little);
    void coverPairs(const Values& offsets, const Values& counts, uint64_t base, bool little,
                    bool strict);
    void queueMakerNote(const Values& v, bool little);
    void readMake(const Values& v, std::string& into);

    ByteReader& r_;
    Header header_;
    std::vector<Pending> queue_;
    std::unordered_set<uint64_t> visited_;
    uint64_t entriesRead_ = 0;
    uint64_t arrayValues_ = 0;
};

void Walker::cover(uint64_t at, uint64_t n, bool strict) {
    // at < 2^34 and n < 2^36 here: the sum cannot wrap.
    const uint64_t end = at + n;
    if (end > r_.limit()) {
        if (strict) beyond = true;
        return;
    }
    furthest = std::max(furthest, end);
    if (at % 512 == 0 && n >= 512 && own.size() < kMaxOwnStarts) own.push_back(at);
    uint8_t soi[2];
    if (end > checked && n >= 2 && r_.readExact(at, soi, 2) && soi[0] == 0xFF && soi[1] == 0xD8)
        checked = std::max(checked, end);
}

void Walker::push(uint64_t at, uint64_t base, Kind kind, bool little) {
    if (visited_.size() >= kMaxIfds) {
        // More directories than any real file: what is left is not measured.
        if (!isMaker(kind) && !brokenAt) brokenAt = at < r_.limit() ? at : r_.limit();
        return;
    }
    if (!visited_.insert(at).second) return;  // a loop, or two links to one directory
    queue_.push_back({at, base, kind, little});
}

std::optional<uint32_t> Walker::value(const Values& v, uint32_t i, bool little) {
    uint8_t b[4];
    if (v.type == kShort) {
        if (!r_.readExact(v.at + 2ull * i, b, 2)) return std::nullopt;
        return get16(b, little);
    }
    if (v.type == kLong || v.type == kIfdType) {
        if (!r_.readExact(v.at + 4ull * i, b, 4)) return std::nullopt;
        return get32(b, little);
    }
    return std::nullopt;
}

// Covers every (offset, byte count) pair of two parallel arrays.
void Walker::coverPairs(const Values& offsets, const Values& counts, uint64_t base, bool little,
                        bool strict) {
    const uint32_t n = std::min(offsets.count, counts.count);
    if (n == 0) return;
    if (offsets.type != kShort && offsets.type != kLong) return;
    if (counts.type != kShort && counts.type != kLong) return;
    constexpr uint32_t kChunk = 512;
    uint8_t ob[kChunk * 4], cb[kChunk * 4];
    const unsigned ow = kTypeSize[offsets.type], cw = kTypeSize[counts.type];
    for (uint32_t i = 0; i < n; i += kChunk) {
        if (arrayValues_ >= kMaxArrayValues) {
            if (strict) brokenAt = brokenAt.value_or(furthest);
            return;
        }
        const uint32_t k = std::min(kChunk, n - i);
        arrayValues_ += k;
        if (!r_.readExact(offsets.at + uint64_t{ow} * i, ob, size_t{ow} * k) ||
            !r_.readExact(counts.at + uint64_t{cw} * i, cb, size_t{cw} * k)) {
            if (strict) beyond = true;
            return;
        }
        for (uint32_t j = 0; j < k; ++j) {
            const uint32_t off = ow == 2 ? get16(ob + 2 * j, little) : get32(ob + 4 * j, little);
            const uint32_t len = cw == 2 ? get16(cb + 2 * j, little) : get32(cb + 4 * j, little);
            // An empty tile has no place; all ones is a writer's "nowhere".
            if (len == 0 || off == 0xFFFFFFFF) continue;
            cover(base + off, len, strict);
        }
    }
}

void Walker::readMake(const Values& v, std::string& into) {
    if (!into.empty() || v.type != 2 || v.count < 2) return;
    char b[64];
    const size_t n = r_.read(v.at, b, std::min<size_t>(v.count, sizeof b));
    for (size_t i = 0; i < n && b[i] != '\0'; ++i) into.push_back(b[i]);
}

// Makers' notes hold a directory behind a maker's own header; where their offsets
// count from differs by maker.
void Walker::queueMakerNote(const Values& v, bool little) {
    if (v.count < 18 || v.type == kShort || v.type == kLong) return;
    uint8_t h[18];
    if (!r_.readExact(v.at, h, sizeof h)) return;
    const uint64_t at = v.at;
    const auto is = [&](const char* s, size_t n) { return std::memcmp(h, s, n) == 0; };
    const auto order = [&](size_t i, bool fallback) {
        if (h[i] == 'I' && h[i + 1] == 'I') return true;
        if (h[i] == 'M' && h[i + 1] == 'M') return false;
        return fallback;
    };
    if (is("Nikon\0", 6)) {
        // A TIFF header of its own at +10; offsets count from it.
        const bool lt = order(10, little);
        push(at + 10 + get32(h + 14, lt), at + 10, Kind::kMaker, lt);
    } else if (is("OLYMPUS\0", 8)) {
        push(at + 12, at, Kind::kMaker, order(8, little));
    } else if (is("OM SYSTEM\0", 10)) {
        push(at + 16, at, Kind::kMaker, order(12, little));
    } else if (is("OLYMP\0", 6) || is("EPSON\0", 6)) {
        push(at + 8, 0, Kind::kMaker, little);
    } else if (is("Panasonic\0", 10) || is("SONY DSC \0", 10) || is("SONY CAM \0", 10)) {
        push(at + 12, 0, Kind::kMaker, little);
    } else if (is("AOC\0", 4)) {
        push(at + 6, 0, Kind::kPentax, order(4, little));
    } else if (is("PENTAX \0", 8)) {
        push(at + 10, at, Kind::kPentax, order(8, little));
    } else if (is("FUJIFILM", 8)) {
        push(at + get32(h + 8, true), at, Kind::kMaker, true);
    } else if (is("Apple iOS\0", 10)) {
        push(at + 14, at, Kind::kMaker, false);
    } else if (upper(make).find("CANON") != std::string::npos) {
        // A bare directory with offsets from the file's start. Other makers' bare
        // notes count from places of their own: not walked.
        push(at, 0, Kind::kMaker, little);
    }
}

bool Walker::read(const Pending& p, Ifd& d, bool first) {
    const uint64_t limit = r_.limit();
    uint8_t cb[2];
    if (!r_.readExact(p.at, cb, 2)) {
        d.beyond = true;
        return true;  // nothing to judge: the directory lies past the limit
    }
    const uint32_t n = get16(cb, p.little);
    if (n > kMaxEntries || (n == 0 && first)) return false;
    if (entriesRead_ + n > kMaxTotalEntries) return false;
    entriesRead_ += n;
    const uint64_t end = p.at + 2 + 12ull * n + 4;
    if (end > limit) d.beyond = true;
    d.furthest = std::min(end, limit);
    d.vouched = d.furthest;

    uint32_t bad = 0, descents = 0;
    uint16_t previous = 0;
    constexpr uint32_t kChunk = 64;
    uint8_t buf[kChunk * 12];
    for (uint32_t i = 0; i < n; i += kChunk) {
        const uint32_t k = std::min(kChunk, n - i);
        const uint64_t chunkAt = p.at + 2 + 12ull * i;
        const size_t got = r_.read(chunkAt, buf, 12 * k);
        if (got < 12 * k) {
            d.beyond = true;
            if (first && i + got / 12 == 0) return false;
        }
        for (uint32_t j = 0; j < got / 12; ++j) {
            const uint8_t* e = buf + 12 * j;
            const uint16_t tag = get16(e, p.little);
            const uint16_t type = get16(e + 2, p.little);
            const uint32_t count = get32(e + 4, p.little);
            if (i + j > 0 && tag <= previous) ++descents;
            previous = tag;
            if (type == 0 || type >= std::size(kTypeSize)) {
                ++bad;
                continue;
            }
            const uint64_t size = uint64_t{count} * kTypeSize[type];
            Values v{type, count, chunkAt + 12ull * j + 8};
            if (size > 4) {
                const uint32_t off = get32(e + 8, p.little);
                // Out-of-line values never overlap the header and fit 32-bit offsets.
                if (off < 8 || off + size > (uint64_t{1} << 32)) {
                    ++bad;
                    continue;
                }
                v.at = p.base + off;
                if (v.at + size > limit) {
                    d.beyond = true;
                } else {
                    d.furthest = std::max(d.furthest, v.at + size);
                    if (v.at % 512 == 0 && size >= 512 && own.size() < kMaxOwnStarts)
                        own.push_back(v.at);
                }
            }
            d.structural = d.structural || isStructural(tag);
            if (tag == 0xC612) d.dng = true;
            if (tag == 0x828E) d.rawHint = true;  // CFA pattern of a raw directory
            if (count == 1 && type == kShort) {
                const uint16_t x = get16(e + 8, p.little);
                if (tag == 0x106 && (x == 32803 || x == 34892))
                    d.rawHint = true;  // CFA, linear raw
                if (tag == 0x103 && (x == 32767 || x == 32769 || x == 32770 || x == 34713 ||
                                     x == 65000 || x == 65535))
                    d.rawHint = true;  // makers' raw compressions
            }
            const Slot s = slotOf(tag, p.kind, header_.magic);
            if (s != kNoSlot) d.slots[s] = v;
            if (isMaker(p.kind) && type == kIfdType && d.childCount < d.children.size())
                d.children[d.childCount++] = static_cast<uint16_t>(i + j);
        }
        if (got < 12 * k) break;
    }
    // Believable: known types, (mostly) ascending tags, and for IFD0 a tag
    // that image directories carry.
    if (bad > n / 8 || descents > n / 4) return false;
    if (first && !d.structural) return false;
    if (!d.beyond) {
        uint8_t nb[4];
        if (r_.readExact(p.at + 2 + 12ull * n, nb, 4)) d.next = get32(nb, p.little);
    }
    return true;
}

void Walker::commit(const Pending& p, const Ifd& d) {
    const bool strict = !isMaker(p.kind);
    const auto& s = d.slots;
    if (strict) {
        beyond = beyond || d.beyond;
        furthest = std::max(furthest, d.furthest);
        checked = std::max(checked, d.vouched);
        dng = dng || d.dng;
        rawHint = rawHint || d.rawHint;
        readMake(s[kMake], make);
        readMake(s[kModel], model);
    } else if (!d.beyond) {
        furthest = std::max(furthest, d.furthest);
    }
    coverPairs(s[kStripOffsets], s[kStripCounts], p.base, p.little, strict);
    coverPairs(s[kTileOffsets], s[kTileCounts], p.base, p.little, strict);
    coverPairs(s[kJpegOffset], s[kJpegLength], p.base, p.little, strict);
    coverPairs(s[kRawOffset], s[kStripCounts], p.base, p.little, strict);
    coverPairs(s[kSr2Offset], s[kSr2Length], p.base, p.little, strict);
    if (!strict) {
        for (uint8_t i = 0; i < d.childCount; ++i) {
            uint8_t e[12];
            if (!r_.readExact(p.at + 2 + 12ull * d.children[i], e, 12)) break;
            const uint32_t count = get32(e + 4, p.little);
            const Values v{
                kIfdType, count,
                count > 1 ? p.base + get32(e + 8, p.little) : p.at + 2 + 12ull * d.children[i] + 8};
            for (uint32_t k = 0; k < std::min<uint32_t>(count, 16); ++k)
                if (auto off = value(v, k, p.little))
                    push(p.base + *off, p.base, Kind::kMaker, p.little);
        }
        return;
    }
    const auto pointer = [&](const Values& v, Kind kind, uint32_t most) {
        if (v.type != kLong && v.type != kIfdType) return;
        for (uint32_t i = 0; i < std::min(v.count, most); ++i) {
            const auto off = value(v, i, p.little);
            if (!off) {
                beyond = true;
                return;
            }
            if (*off >= 8) push(p.base + *off, p.base, kind, p.little);
        }
    };
    pointer(s[kSubIfds], Kind::kChain, kMaxSubIfds);
    pointer(s[kExif], Kind::kLeaf, 1);
    pointer(s[kGps], Kind::kLeaf, 1);
    pointer(s[kInterop], Kind::kLeaf, 1);
    // Kodak's directory is measured but not trusted to break the file; Sony's
    // private one is a plain directory.
    if (s[kKodak].count == 1 && (s[kKodak].type == kLong || s[kKodak].type == kIfdType))
        if (auto off = value(s[kKodak], 0, p.little))
            push(p.base + *off, p.base, Kind::kMaker, p.little);
    if (s[kSonyPrivate].count == 1 &&
        (s[kSonyPrivate].type == kLong || s[kSonyPrivate].type == kIfdType))
        if (auto off = value(s[kSonyPrivate], 0, p.little))
            push(p.base + *off, p.base, Kind::kLeaf, p.little);
    if (s[kMakerNote].count > 0 && s[kMakerNote].at + s[kMakerNote].count <= r_.limit())
        queueMakerNote(s[kMakerNote], p.little);
    if (p.kind == Kind::kChain && d.next != 0) {
        if (d.next < 8) {
            brokenAt = brokenAt.value_or(p.at);
        } else {
            push(p.base + d.next, p.base, Kind::kChain, p.little);
        }
    }
}

bool Walker::run(bool crMarker) {
    push(header_.ifd0, 0, Kind::kChain, header_.little);
    if (crMarker) {
        // CR2 keeps the raw directory's offset in its header as well.
        uint8_t b[4];
        if (r_.readExact(12, b, 4) && get32(b, true) >= 8)
            push(get32(b, true), 0, Kind::kChain, true);
    }
    furthest = header_.magic == Magic::kRw2 ? 24 : 8;
    bool first = true;
    for (size_t i = 0; i < queue_.size(); ++i) {
        const Pending p = queue_[i];
        Ifd d;
        const bool ok = read(p, d, first);
        if (first) {
            if (!ok || (d.beyond && d.furthest <= p.at)) return false;  // IFD0 unseen or false
            first = false;
        }
        if (!ok) {
            if (!isMaker(p.kind)) brokenAt = brokenAt.value_or(p.at);
            continue;
        }
        commit(p, d);
    }
    return true;
}

std::string_view classify(const Header& h, const Walker& w, bool crMarker, bool iiqMarker) {
    if (w.dng) return "DNG";
    if (iiqMarker) return "IIQ";
    if (h.magic == Magic::kRw2) return "RAW";
    if (h.magic == Magic::kOrf) return "ORF";
    const std::string m = upper(w.make);
    const auto has = [&](std::string_view token) { return m.find(token) != std::string::npos; };
    if (crMarker && (m.empty() || has("CANON"))) return "CR2";
    // A maker's name alone does not make a raw: cameras also write plain TIFFs.
    if (!w.rawHint) return "TIFF";
    const std::string model = upper(w.model);
    if (has("NIKON")) return model.starts_with("COOLPIX") ? "NRW" : "NEF";
    if (has("PENTAX") || has("RICOH")) return "PEF";
    if (has("OLYMPUS") || m.starts_with("OM DIGITAL")) return "ORF";
    // Sony's first raw camera wrote SR2; every later one writes ARW.
    if (has("SONY")) return model.empty() || model.starts_with("DSC-R1") ? "SR2" : "ARW";
    if (has("SAMSUNG")) return "SRW";
    if (has("HASSELBLAD")) return "3FR";
    if (has("PHASE ONE")) return "IIQ";
    if (has("EPSON")) return "ERF";
    if (has("MAMIYA")) return "MEF";
    if (has("KODAK")) return "DCR";
    return "TIFF";
}

bool quick(const uint8_t* sector) {
    return readHeader(sector).has_value();
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t b[16];
    if (!r.readExact(0, b, sizeof b)) return std::nullopt;
    const auto header = readHeader(b);
    if (!header) return std::nullopt;
    const bool crMarker =
        header->little && header->magic == Magic::kTiff && b[8] == 'C' && b[9] == 'R' && b[10] == 2;
    Walker w(r, *header);
    if (!w.run(crMarker)) return std::nullopt;
    // Phase One's raws carry their own directory's mark after the TIFF header.
    const bool iiqMarker = header->little && header->magic == Magic::kTiff && b[8] == 'I' &&
                           b[9] == 'I' && b[10] == 'I' && b[11] == 'I';
    Carved c{classify(*header, w, crMarker, iiqMarker), w.furthest, false,
             std::min(w.checked, w.furthest)};
    if (w.beyond) {
        c.length = r.limit();
        c.partial = true;
    } else if (w.brokenAt) {
        c.length = std::min(std::max(c.length, *w.brokenAt), r.limit());
        c.partial = true;
    }
    std::sort(w.own.begin(), w.own.end());
    c.ownStarts = std::move(w.own);
    return c;
}

}  // namespace

const CarverEntry& tiffCarver() {
    static const CarverEntry kEntry{"TIFF and TIFF-based raws", kTypes, quick, carve, "IM"};
    return kEntry;
}

}  // namespace kestrum::carve
