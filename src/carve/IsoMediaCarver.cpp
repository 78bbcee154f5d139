// ISO base media / QuickTime: the ftyp brands name the type, the top-level box
// sizes give the length. Only box headers are read, so a phone video of hundreds
// of megabytes costs a handful of reads.
#include "carve/IsoMediaCarver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 9> kTypes{"MP4", "MOV",  "M4V",  "3G2", "3GP",
                                                 "M4A", "HEIC", "AVIF", "CR3"};
constexpr int kMaxBoxes = 1'000'000;

using Fourcc = std::array<char, 4>;

bool printable(const uint8_t* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E) return false;
    return true;
}

bool is(const uint8_t* p, std::string_view id) {
    return std::memcmp(p, id.data(), 4) == 0;
}

// Boxes a QuickTime file without ftyp may open with.
bool classicFirst(const uint8_t* t) {
    for (std::string_view id : {"moov", "mdat", "wide", "free", "skip", "pnot"})
        if (is(t, id)) return true;
    return false;
}

// Top-level boxes that may follow once a file has its movie and media data. An
// unknown printable id there is more likely the next file's bytes than a box.
bool knownTopLevel(const uint8_t* t) {
    for (std::string_view id :
         {"mdat", "moof", "mfra", "free", "skip", "wide", "uuid", "udta", "meta", "sidx", "ssix",
          "styp", "emsg", "prft", "pdin", "junk", "pnot", "PICT", "Xtra", "beam", "mvex"})
        if (is(t, id)) return true;
    return false;
}

// Still-image and raw flavours of the box format: the type a major brand of one
// stands for (JPEG 2000's flavours have a carver of their own: none).
std::optional<std::string_view> imageBrand(const uint8_t* b) {
    for (std::string_view id : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
        if (is(b, id)) return "HEIC";
    if (is(b, "avif") || is(b, "avis")) return "AVIF";
    if (is(b, "crx ")) return "CR3";
    if (is(b, "jp2 ") || is(b, "jpx ") || is(b, "jpm ")) return std::string_view{};
    return std::nullopt;
}

// The catalogue type one brand stands for; empty for a brand that decides nothing.
std::string_view typeOfBrand(const uint8_t* b) {
    if (is(b, "qt  ")) return "MOV";
    if (is(b, "M4V ") || is(b, "M4VH") || is(b, "M4VP")) return "M4V";
    // The catalogue has no 3GP row: 3GPP files go with their 3GPP2 siblings.
    if (std::memcmp(b, "3g2", 3) == 0) return "3G2";
    if (std::memcmp(b, "3gp", 3) == 0 || std::memcmp(b, "3gs", 3) == 0 ||
        std::memcmp(b, "3ge", 3) == 0 || std::memcmp(b, "3gg", 3) == 0 ||
        std::memcmp(b, "3gr", 3) == 0)
        return "3GP";
    if (is(b, "M4A ") || is(b, "M4B ") || is(b, "M4P ")) return "M4A";
    return {};
}

bool mp4Brand(const uint8_t* b) {
    if (std::memcmp(b, "iso", 3) == 0) return true;  // isom, iso2 ... iso9
    for (std::string_view id : {"mp41", "mp42", "avc1", "dash", "mmp4", "f4v ", "MSNV", "XAVC"})
        if (is(b, id)) return true;
    return false;
}

struct Box {
    uint64_t size = 0;    // whole box, header included; 0 when it runs to the end
    uint32_t header = 8;  // 16 with a 64-bit size
    uint8_t type[4]{};
};

// The box header at off; none when the bytes are not one (too small, unprintable id).
std::optional<Box> boxAt(ByteReader& r, uint64_t off) {
    uint8_t h[16];
    const size_t got = r.read(off, h, sizeof h);
    if (got < 8) return std::nullopt;
    Box b;
    std::memcpy(b.type, h + 4, 4);
    if (!printable(b.type)) return std::nullopt;
    const uint32_t size = be32(h);
    if (size == 1) {
        if (got < 16) return std::nullopt;
        b.header = 16;
        b.size = 0;
        for (int i = 8; i < 16; ++i) b.size = b.size << 8 | h[i];
        if (b.size < 16) return std::nullopt;
    } else if (size == 0) {
        b.size = 0;
    } else {
        if (size < 8) return std::nullopt;
        b.size = size;
    }
    return b;
}

// A movie box is only taken for one when its first child is a box that fits.
bool moovLooksValid(ByteReader& r, uint64_t off, const Box& moov) {
    if (moov.size != 0 && moov.size < moov.header + 8u) return false;
    const auto child = boxAt(r, off + moov.header);
    if (!child || child->size == 0) return false;
    return moov.size == 0 || child->size <= moov.size - moov.header;
}

// The chunk offsets (stco, co64) of every track of the movie box at `at` that
// fall on a sector boundary: where the sample table puts a sample there, a file
// found at that sector is the movie's own frame.
void alignedChunks(ByteReader& r, uint64_t at, uint64_t end, int depth,
                   std::vector<uint64_t>& out) {
    for (int n = 0; n < 4096 && at + 8 <= end; ++n) {
        const auto box = boxAt(r, at);
        if (!box || box->size == 0 || box->size > end - at) return;
        const uint8_t* t = box->type;
        const uint64_t body = at + box->header;
        if (depth < 6 && (is(t, "trak") || is(t, "mdia") || is(t, "minf") || is(t, "stbl"))) {
            alignedChunks(r, body, at + box->size, depth + 1, out);
        } else if (is(t, "stco") || is(t, "co64")) {
            const uint32_t width = is(t, "co64") ? 8 : 4;
            const auto count = r.be32(body + 4);
            if (!count || uint64_t{*count} * width > box->size - box->header - 8) return;
            uint8_t block[4096];
            for (uint64_t i = 0; i < *count && out.size() < kMaxOwnStarts;) {
                const uint64_t left = std::min<uint64_t>(*count - i, sizeof block / width);
                if (!r.readExact(body + 8 + i * width, block, left * width)) return;
                for (uint64_t k = 0; k < left; ++k) {
                    uint64_t v = 0;
                    for (uint32_t b = 0; b < width; ++b) v = v << 8 | block[k * width + b];
                    if (v % 512 == 0 && out.size() < kMaxOwnStarts) out.push_back(v);
                }
                i += left;
            }
        }
        at += box->size;
    }
}

struct FtypInfo {
    std::string_view type;
    uint32_t size = 0;
};

std::optional<FtypInfo> readFtyp(ByteReader& r) {
    const auto size = r.be32(0);
    // Header, major brand, minor version, then whole compatible brands.
    if (!size || *size < 16 || *size > 1024 || (*size - 16) % 4 != 0) return std::nullopt;
    uint8_t f[1024];
    if (!r.readExact(0, f, *size)) return std::nullopt;
    const uint8_t* major = f + 8;
    if (!printable(major)) return std::nullopt;
    const auto image = imageBrand(major);
    if (image && image->empty()) return std::nullopt;
    // A major brand of the MP4 family decides alone; another major brand lets the
    // compatible brands name the type.
    std::string_view type = image             ? *image
                            : mp4Brand(major) ? std::string_view("MP4")
                                              : typeOfBrand(major);
    for (uint32_t at = 16; at < *size; at += 4) {
        const uint8_t* b = f + at;
        if (std::memcmp(b, "\0\0\0\0", 4) == 0) continue;  // some writers pad with zeros
        if (!printable(b)) return std::nullopt;
        if (type.empty()) type = typeOfBrand(b);
        if (type == "HEIC" && (is(b, "avif") || is(b, "avis"))) type = "AVIF";  // mif1 + avif
    }
    return FtypInfo{type.empty() ? std::string_view("MP4") : type, *size};
}

// Whether the movie's tracks are all sound: its handler boxes, looked for in the
// movie's first megabyte, name "soun" and never "vide".
bool audioOnlyMovie(ByteReader& r, uint64_t off, uint64_t size) {
    static constexpr uint8_t kHdlr[] = {'h', 'd', 'l', 'r'};
    const uint64_t end = off + std::min<uint64_t>(size, 1 << 20);
    bool sound = false;
    for (uint64_t at = off; at < end;) {
        const auto found = r.find(at, kHdlr, 4, end - at);
        if (!found) break;
        uint8_t handler[4];
        if (!r.readExact(*found + 12, handler, 4)) break;
        if (is(handler, "vide")) return false;
        sound = sound || is(handler, "soun");
        at = *found + 4;
    }
    return sound;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t head[8];
    if (!r.readExact(0, head, 8)) return std::nullopt;
    std::string_view type = "MOV";
    uint64_t off = 0;
    const bool hasFtyp = is(head + 4, "ftyp");
    if (hasFtyp) {
        const auto ftyp = readFtyp(r);
        if (!ftyp) return std::nullopt;
        type = ftyp->type;
        off = ftyp->size;
    } else if (!classicFirst(head + 4)) {
        return std::nullopt;
    }

    const bool image = type == "HEIC" || type == "AVIF";
    bool moov = false, mdat = false, meta = false, partial = false;
    uint64_t moovAt = 0, moovSize = 0;
    bool afterFragment = false;         // the last non-filler box was a movie fragment
    uint64_t fillerStart = UINT64_MAX;  // where the run of filler boxes before off began
    int boxes = 0;                      // after the ftyp
    uint64_t media = 0, mediaEnd = 0;   // from the first media data's body to the last's end
    bool mediaOpen = false;             // media data of size 0 or past the limit
    std::vector<uint64_t> own;          // sector-aligned chunk offsets
    for (; boxes < kMaxBoxes; ++boxes) {
        if (off >= r.limit()) break;
        auto box = boxAt(r, off);
        if (!box) break;
        const uint8_t* t = box->type;
        if ((moov || (image && meta)) && mdat) {
            // A whole movie followed by a second ftyp, movie or preview, or by media
            // data that no fragment announces, is followed by the next recording,
            // which owns the filler boxes in front of it.
            // A picture may keep its items in several media data boxes.
            const bool nextFile = is(t, "ftyp") || is(t, "moov") || is(t, "pnot") ||
                                  (image ? is(t, "meta") : is(t, "mdat") && !afterFragment);
            if (nextFile) {
                if (fillerStart != UINT64_MAX) off = fillerStart;
                break;
            }
            if (!knownTopLevel(t)) break;
        } else if (is(t, "ftyp")) {
            break;
        }
        if (is(t, "moov")) {
            if (moov || !moovLooksValid(r, off, *box)) break;
            moov = true;
            moovAt = off;
            moovSize = box->size == 0 ? r.limit() - off : box->size;
            if (box->size != 0 && box->size <= r.limit() - off)
                alignedChunks(r, off + box->header, off + box->size, 0, own);
        }
        if (is(t, "meta")) meta = true;
        if (is(t, "mdat")) {
            mdat = true;
            if (media == 0) media = off + box->header;
            mediaOpen = box->size == 0 || box->size > r.limit() - off;
            mediaEnd = mediaOpen ? r.limit() : off + box->size;
        }
        const bool filler = is(t, "free") || is(t, "skip") || is(t, "wide") || is(t, "junk");
        if (filler) {
            if (fillerStart == UINT64_MAX) fillerStart = off;
        } else {
            fillerStart = UINT64_MAX;
            afterFragment = is(t, "moof");
        }
        const uint64_t room = r.limit() - off;
        const bool known = knownTopLevel(t) || is(t, "moov");
        if (box->size == 0 || box->size > room) {
            if (!known) break;  // an unknown id with a wild size is no box
            // Size 0 runs to the end of the medium; a size past the limit is cut there.
            partial = partial || box->size != 0;
            off = r.limit();
            ++boxes;
            break;
        }
        off += box->size;
    }
    if (boxes >= kMaxBoxes) partial = true;

    if (hasFtyp) {
        if (boxes == 0) return std::nullopt;  // nothing beyond the ftyp checks out
    } else {
        // Without a brand the first atom alone proves little: a second atom must
        // follow and the movie or its media data must be among them.
        if ((boxes < 2 && !moov) || (!moov && !mdat)) return std::nullopt;
    }
    // A picture's items are described by its meta box (a still with all its data
    // inside it has no media data box at all); a sequence or burst is a movie.
    if (image ? !(meta || (moov && mdat)) : (!moov || !mdat)) partial = true;
    if (type == "MP4" && moov && audioOnlyMovie(r, moovAt, moovSize)) type = "M4A";
    Carved c{type, off, partial};
    // Only the boxes are checked, not the samples in the media data.
    markUnchecked(c, media, mediaEnd);
    // A recording cut by power loss: no movie box, or media data with no end. Its
    // size field tells nothing of where its data stops. A still picture needs no
    // movie box.
    c.openEnded = c.checkedLength != 0 && (mediaOpen || (!moov && !image));
    c.partial = c.partial || c.openEnded;
    std::sort(own.begin(), own.end());
    c.ownStarts = std::move(own);
    return c;
}

bool quick(const uint8_t* s) {
    const uint8_t* t = s + 4;
    if (is(t, "ftyp")) {
        const uint32_t size = be32(s);
        return size >= 16 && size <= 1024 && size % 4 == 0;
    }
    return classicFirst(t);
}

}  // namespace

const CarverEntry& isoMediaCarver() {
    static const CarverEntry entry{"ISO base media", kTypes, quick, carve};
    return entry;
}

}  // namespace kestrum::carve
