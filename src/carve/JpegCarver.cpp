// JPEG: marker segments are skipped by their lengths, so the end marker of an
// Exif thumbnail never ends the file; each scan's entropy-coded data is walked to
// the marker after it, and the walk goes on through progressive scans to the real
// end of image. A multi-picture index adds the pictures stored after the first,
// a motion photo its video; metadata trailers after the end are kept.
#include "carve/JpegCarver.h"

#include "carve/ByteOrder.h"
#include "carve/ImageTrailers.h"
#include "carve/Join.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrum::carve {
namespace {

constexpr std::string_view kTypes[] = {"JPEG"};

constexpr int kMaxSegments = 100000;  // fill bytes count too
constexpr size_t kMaxPictures = 64;   // multi-picture entries looked at
constexpr size_t kScanBlock = 256 * 1024;
constexpr int kMaxVideoBoxes = 10000;
constexpr uint64_t kMaxZeroRun = 1 << 20;  // zero bytes in a row inside coded data
constexpr size_t kMaxFillRun = 4096;       // fill bytes in a row before a marker
constexpr std::string_view kXmp{"http://ns.adobe.com/xap/1.0/\0", 29};

bool add(uint64_t a, uint64_t b, uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}

// F7 starts a lossless (JPEG-LS) frame, whose scans stuff bits differently.
bool isFrame(uint8_t m) {
    return (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) || m == 0xDE ||
           m == 0xF7;
}

// Markers that carry a length outside a scan. Everything else there (a second
// start of image, a restart marker, the reserved range) means foreign bytes.
bool hasLength(uint8_t m) {
    return (m >= 0xC0 && m <= 0xCF && m != 0xC8) || (m >= 0xDA && m <= 0xDF) ||
           (m >= 0xE0 && m <= 0xFE) || m == 0xDB;
}

// Segments whose bodies the walk does not look into: application data,
// comments and the extension range.
bool isOpaque(uint8_t m) {
    return (m >= 0xE0 && m <= 0xEF) || (m >= 0xF0 && m <= 0xFE && m != 0xF7);
}

// Whether the body (the bytes after the length field) of a table, frame or scan
// header is internally consistent. Random bytes after a marker rarely are.
bool bodyValid(uint8_t m, const uint8_t* b, size_t n, bool ls) {
    if (m == 0xDB) {  // quantisation tables, 64 or 128 bytes each
        size_t i = 0;
        while (i < n) {
            const int precision = b[i] >> 4, id = b[i] & 15;
            if (precision > 1 || id > 3) return false;
            i += 1 + (precision ? 128 : 64);
        }
        return n > 0 && i == n;
    }
    if (m == 0xC4) {  // Huffman tables: class, id, 16 counts, the symbols
        size_t i = 0;
        while (i < n) {
            if ((b[i] >> 4) > 1 || (b[i] & 15) > 3 || i + 17 > n) return false;
            size_t symbols = 0;
            for (int k = 1; k <= 16; ++k) symbols += b[i + k];
            if (symbols > 256) return false;
            i += 17 + symbols;
        }
        return n > 0 && i == n;
    }
    if (isFrame(m)) {
        if (n < 9) return false;
        const bool lossless = m == 0xC3 || m == 0xC7 || m == 0xCB || m == 0xCF || m == 0xF7;
        const int precision = b[0];
        if (lossless ? (precision < 2 || precision > 16) : (precision != 8 && precision != 12))
            return false;
        const size_t components = b[5];
        if (be16(b + 3) == 0 || components == 0 || n != 6 + 3 * components) return false;
        for (size_t k = 0; k < components; ++k) {
            const uint8_t* c = b + 6 + 3 * k;
            const int h = c[1] >> 4, v = c[1] & 15;
            if (h < 1 || h > 4 || v < 1 || v > 4 || c[2] > 3) return false;
        }
        return true;
    }
    if (m == 0xDA) {
        const size_t components = n > 0 ? b[0] : 0;
        if (components < 1 || components > 4 || n != 4 + 2 * components) return false;
        for (size_t k = 0; k < components && !ls; ++k) {  // JPEG-LS: mapping tables
            const uint8_t tables = b[2 + 2 * k];
            if ((tables >> 4) > 3 || (tables & 15) > 3) return false;
        }
        return true;
    }
    if (m == 0xDD || m == 0xDC) return n == 2;  // restart interval, number of lines
    if (m == 0xDF) return n == 1;               // expand reference components
    if (m == 0xCC) return n > 0 && n % 2 == 0;  // arithmetic conditioning
    return true;
}

// Markers that may end entropy-coded data: the end of image, the tables and
// headers of a next scan, a next frame of a hierarchical picture, JPEG-LS
// parameters. Any other one there (application data, the reserved and extension
// ranges: an MP3 frame sync FF FB) is another file's bytes.
bool mayFollowScan(uint8_t m, bool ls) {
    return m == 0xD9 || m == 0xDA || m == 0xC4 || m == 0xDB || m == 0xDD || m == 0xDC ||
           m == 0xCC || m == 0xDE || m == 0xDF || (isFrame(m) && m != 0xF7) || (ls && m == 0xF8);
}

enum class Stop { kEnd, kLimit, kBroken };

struct ScanEnd {
    Stop stop;
    uint64_t at;  // the marker after the scan, the broken spot, or the limit
};

// Entropy-coded data runs to the first FF that is neither stuffing (FF 00), a
// fill byte nor a restart marker. Restart markers must count 0..7 in turn: one
// out of turn means the scan was overwritten there. In JPEG-LS scans an FF
// followed by a byte below 80 is data. Erased space after a cut-off picture
// ends the scan too: coded data never holds a megabyte of zeros (not even a
// flat picture under optimised tables), nor thousands of fill bytes.
ScanEnd scanEnd(ByteReader& r, uint64_t from, std::vector<uint8_t>& buf, bool ls) {
    unsigned restart = 0;
    uint64_t at = from;
    uint64_t zeros = from;  // where the current run of zero bytes began
    for (;;) {
        const size_t got = r.read(at, buf.data(), buf.size());
        if (got < 2) return {Stop::kLimit, r.limit()};
        const uint8_t* b = buf.data();
        size_t last = got;  // after the block's last nonzero byte
        while (last > 0 && b[last - 1] == 0) --last;
        if (last == 0 && at + got - zeros >= kMaxZeroRun) return {Stop::kBroken, zeros};
        size_t i = 0;
        while (i + 1 < got) {
            const void* hit = std::memchr(b + i, 0xFF, got - 1 - i);
            if (!hit) {
                i = got - 1;
                break;
            }
            const size_t k = static_cast<size_t>(static_cast<const uint8_t*>(hit) - b);
            const uint8_t next = b[k + 1];
            if (next == 0x00 || (ls && next < 0x80)) {
                i = k + 2;
            } else if (next == 0xFF) {
                size_t e = k + 1;
                while (e < got && b[e] == 0xFF) ++e;
                if (e - k > kMaxFillRun) return {Stop::kBroken, at + k};
                i = e - 1;
            } else if (next >= 0xD0 && next <= 0xD7) {
                if ((next & 7u) != restart) return {Stop::kBroken, at + k};
                restart = (restart + 1) & 7u;
                i = k + 2;
            } else {
                return {Stop::kEnd, at + k};
            }
        }
        if (last > 0) zeros = at + last;
        at += i;  // i >= got - 1 >= 1: the last byte may start a marker, so it is read again
    }
}

struct Picture {
    uint64_t offset;  // from the index's byte-order mark
    uint64_t size;
};

struct Walk {
    Stop stop = Stop::kBroken;
    uint64_t end = 0;  // after the end of image; else the valid prefix
    int segments = 0;  // segments that checked out
    uint64_t indexBase = 0;
    std::vector<Picture> pictures;  // from a multi-picture index, at most kMaxPictures
    bool motion = false;            // the XMP announces a video after the pictures
    uint64_t coded = 0;             // where the first entropy-coded data begins
};

// A multi-picture index ("MPF\0" then a TIFF header) in an APP2 body.
void readPictureIndex(const uint8_t* b, size_t n, uint64_t bodyAt, Walk& w) {
    if (n < 16 || std::memcmp(b, "MPF\0", 4) != 0) return;
    const uint8_t* t = b + 4;
    const size_t tn = n - 4;
    bool little;
    if (std::memcmp(t, "II*\0", 4) == 0) {
        little = true;
    } else if (std::memcmp(t, "MM\0*", 4) == 0) {
        little = false;
    } else {
        return;
    }
    auto u16 = [&](size_t o) { return get16(t + o, little); };
    auto u32 = [&](size_t o) { return get32(t + o, little); };
    const uint64_t ifd = u32(4);
    if (ifd + 2 > tn) return;
    const uint32_t count = u16(static_cast<size_t>(ifd));
    for (uint32_t e = 0; e < count; ++e) {
        const uint64_t at = ifd + 2 + 12ull * e;
        if (at + 12 > tn) return;
        const size_t a = static_cast<size_t>(at);
        if (u16(a) != 0xB002) continue;  // the picture list
        const uint64_t bytes = u32(a + 4), list = u32(a + 8);
        if (bytes < 32 || bytes % 16 != 0 || list > tn || bytes > tn - list) return;
        const size_t pictures = std::min<size_t>(static_cast<size_t>(bytes / 16), kMaxPictures);
        for (size_t p = 0; p < pictures; ++p) {
            const size_t q = static_cast<size_t>(list) + 16 * p;
            w.pictures.push_back({u32(q + 8), u32(q + 4)});
        }
        w.indexBase = bodyAt + 4;
        return;
    }
}

struct Buffers {
    std::vector<uint8_t> segment = std::vector<uint8_t>(65535);
    std::vector<uint8_t> scan = std::vector<uint8_t>(kScanBlock);
};

Walk walk(ByteReader& r, uint64_t start, Buffers& bufs, bool wantIndex) {
    Walk w;
    uint64_t pos = start + 2;
    bool frame = false, scanned = false, ls = false;
    auto stop = [&](Stop how, uint64_t at) {
        w.stop = how;
        w.end = at;
        return w;
    };
    for (int n = 0; n < kMaxSegments; ++n) {
        uint8_t head[4];
        const size_t got = r.read(pos, head, 4);
        if (got < 2) return stop(Stop::kLimit, r.limit());
        if (head[0] != 0xFF) return stop(Stop::kBroken, pos);
        const uint8_t m = head[1];
        if (m == 0xFF) {  // fill byte before a marker
            ++pos;
            continue;
        }
        if (scanned && !mayFollowScan(m, ls)) return stop(Stop::kBroken, pos);
        if (m == 0xD9) {
            if (!scanned) return stop(Stop::kBroken, pos);
            return stop(Stop::kEnd, pos + 2);
        }
        if (!hasLength(m)) return stop(Stop::kBroken, pos);
        if (got < 4) return stop(Stop::kLimit, r.limit());
        const uint16_t length = be16(head + 2);
        if (length < 2) return stop(Stop::kBroken, pos);
        const uint64_t body = pos + 4, next = pos + 2 + length;
        if (next > r.limit()) return stop(Stop::kLimit, r.limit());
        const size_t bodyBytes = length - 2u;
        if (isOpaque(m)) {
            // Only a multi-picture index and XMP are read whole; the identifier
            // decides, so Exif blocks and colour profiles cost one small read.
            uint8_t id[29];
            const bool mayMatter = wantIndex && (m == 0xE1 || m == 0xE2) && bodyBytes > sizeof id &&
                                   r.readExact(body, id, sizeof id);
            uint8_t* seg = bufs.segment.data();
            if (mayMatter && m == 0xE2 && w.pictures.empty() && std::memcmp(id, "MPF\0", 4) == 0) {
                r.readExact(body, seg, bodyBytes);
                readPictureIndex(seg, bodyBytes, body, w);
            } else if (mayMatter && m == 0xE1 && !w.motion &&
                       std::memcmp(id, kXmp.data(), kXmp.size()) == 0) {
                r.readExact(body, seg, bodyBytes);
                const std::string_view text(reinterpret_cast<const char*>(seg), bodyBytes);
                w.motion = text.find("MotionPhoto") != std::string_view::npos ||
                           text.find("MicroVideo") != std::string_view::npos;
            }
        } else {
            r.readExact(body, bufs.segment.data(), bodyBytes);
            if (!bodyValid(m, bufs.segment.data(), bodyBytes, ls)) return stop(Stop::kBroken, pos);
        }
        ++w.segments;
        if (isFrame(m)) frame = true, ls = m == 0xF7;
        if (m != 0xDA) {
            pos = next;
            continue;
        }
        if (!frame) return stop(Stop::kBroken, pos);
        scanned = true;
        if (w.coded == 0) w.coded = next;
        const ScanEnd s = scanEnd(r, next, bufs.scan, ls);
        if (s.stop != Stop::kEnd) return stop(s.stop, s.at);
        pos = s.at;
    }
    return stop(Stop::kBroken, pos);
}

// A motion photo's video: an MP4 after the last picture, walked by its
// top-level boxes. `at` itself when no file-type box starts there.
uint64_t videoEnd(ByteReader& r, uint64_t at, bool& cut) {
    static constexpr std::string_view kBoxes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide",
                                                  "uuid", "meta", "udta", "moof", "mfra", "sidx"};
    uint64_t pos = at;
    for (int n = 0; n < kMaxVideoBoxes; ++n) {
        uint8_t b[16];
        const size_t got = r.read(pos, b, 16);
        const std::string_view type(reinterpret_cast<const char*>(b + 4), got >= 8 ? 4 : 0);
        if (got < 8 || std::find(std::begin(kBoxes), std::end(kBoxes), type) == std::end(kBoxes) ||
            (n == 0 && type != "ftyp")) {
            cut = got < 8 && n > 0 && pos < r.limit();
            return cut ? r.limit() : pos;
        }
        uint64_t size = be32(b);
        if (size == 1 && got == 16) {
            size = 0;
            for (int k = 8; k < 16; ++k) size = size << 8 | b[k];
        }
        uint64_t next;
        if (size < 8 || !add(pos, size, next)) return pos;
        if (next > r.limit()) {
            cut = true;
            return r.limit();
        }
        pos = next;
    }
    return pos;
}

bool quick(const uint8_t* s) {
    if (s[0] != 0xFF || s[1] != 0xD8 || s[2] != 0xFF) return false;
    const uint8_t m = s[3];
    return (m >= 0xE0 && m <= 0xEF) || m == 0xDB || m == 0xC4 || m == 0xDD || m == 0xFE ||
           isFrame(m);
}

std::optional<Carved> carve(ByteReader& r) {
    if (r.be16(0) != 0xFFD8) return std::nullopt;
    Buffers bufs;
    Walk w = walk(r, 0, bufs, true);
    // A break before two segments have checked out is more likely a look-alike
    // than a damaged picture; a cut by the limit needs one, or a first segment
    // that names itself JFIF or Exif.
    if (w.stop == Stop::kBroken && w.segments < 2) return std::nullopt;
    if (w.stop == Stop::kLimit && w.segments < 1) {
        uint8_t h[12];
        if (!r.readExact(0, h, sizeof h) ||
            !((h[3] == 0xE0 && std::memcmp(h + 6, "JFIF\0", 5) == 0) ||
              (h[3] == 0xE1 && std::memcmp(h + 6, "Exif\0", 6) == 0)))
            return std::nullopt;
    }
    // The entropy-coded data follows rules but holds any bytes between its
    // markers: newer files may begin inside it.
    const auto unchecked = [&](Carved c) {
        markUnchecked(c, w.coded, w.end);
        return c;
    };
    if (w.stop != Stop::kEnd) return unchecked(Carved{kTypes[0], w.end, true});

    // The further pictures of a multi-picture file (views, depth maps, large
    // previews) follow the first picture's end of image; the index gives their
    // places and sizes, and each must be a whole JPEG of its own.
    uint64_t end = w.end;
    std::sort(w.pictures.begin(), w.pictures.end(),
              [](const Picture& a, const Picture& b) { return a.offset < b.offset; });
    for (const Picture& p : w.pictures) {
        uint64_t at, pictureEnd;
        if (p.offset == 0 || p.size == 0 || !add(w.indexBase, p.offset, at) || at < end ||
            !add(at, p.size, pictureEnd))
            continue;
        if (at >= r.limit()) return unchecked(Carved{kTypes[0], r.limit(), true});
        if (r.be16(at) != 0xFFD8) return unchecked(Carved{kTypes[0], end, true});
        const Walk more = walk(r, at, bufs, false);
        if (more.stop != Stop::kEnd)
            return unchecked(Carved{kTypes[0], std::max(end, more.end), true});
        end = std::max(more.end, std::min(pictureEnd, r.limit()));
    }
    if (w.motion) {
        bool cut = false;
        end = videoEnd(r, end, cut);
        if (cut) return unchecked(Carved{kTypes[0], end, true});
    }
    return unchecked(Carved{kTypes[0], jpegTrailerEnd(r, end), false});
}

}  // namespace

const CarverEntry& jpegCarver() {
    static const CarverEntry entry{"JPEG", kTypes, quick, carve, "\xFF"};
    return entry;
}

}  // namespace kestrum::carve
