// MP3 carver: frame headers are followed one to the next by the lengths they
// imply; the chain's end and the tags behind it give the file's length.
#include "carve/Mp3Carver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"MP3"};

// Without an ID3v2 tag a frame sync is a weak sign: this many consistent frames
// in a row must follow it.
constexpr int kBareFrames = 4;

struct Frame {
    uint8_t version;  // header bits: 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
    uint8_t layer;    // header bits: 1 layer III, 2 layer II, 3 layer I
    uint8_t rateIndex;
    uint32_t length;
    bool sameStream(const Frame& o) const {
        return version == o.version && layer == o.layer && rateIndex == o.rateIndex;
    }
};

// kbit/s by [MPEG 1?][layer bits - 1][bitrate index].
constexpr uint16_t kBitrates[2][3][15] = {
    {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}},
    {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},
};
constexpr uint32_t kRates[3] = {44100, 48000, 32000};

std::optional<Frame> parseFrame(const uint8_t* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return std::nullopt;
    const uint8_t version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3;
    const uint8_t bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    if ((h[3] & 3) == 2) return std::nullopt;  // reserved emphasis
    const bool mpeg1 = version == 3;
    const uint32_t bitrate = kBitrates[mpeg1][layer - 1][bitrateIndex] * 1000u;
    const uint32_t rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const uint32_t padding = (h[2] >> 1) & 1;
    uint32_t length;
    if (layer == 3)
        length = (12 * bitrate / rate + padding) * 4;
    else if (layer == 1 && !mpeg1)
        length = 72 * bitrate / rate + padding;
    else
        length = 144 * bitrate / rate + padding;
    if (length < 4) return std::nullopt;
    return Frame{version, layer, rateIndex, length};
}

bool quick(const uint8_t* s) {
    if (s[0] == 'I' && s[1] == 'D' && s[2] == '3')
        return s[3] >= 2 && s[3] <= 4 && s[4] != 0xFF && ((s[6] | s[7] | s[8] | s[9]) & 0x80) == 0;
    const auto first = parseFrame(s);
    if (!first) return false;
    // The second header, when it lies inside the sector, must continue the stream.
    if (first->length + 4 > 512) return true;
    const auto second = parseFrame(s + first->length);
    return second && second->sameStream(*first);
}

// Sequential reads through a large window, for walks over frames.
class Window {
public:
    explicit Window(ByteReader& r) : r_(r), buf_(kSize) {}
    // The n bytes at offset, or null when the limit comes first.
    const uint8_t* at(uint64_t offset, size_t n) {
        if (offset < start_ || offset + n > start_ + got_) {
            // A small first read: most frame-sync candidates fail within a few frames.
            const size_t want = fills_++ == 0 ? kFirst : buf_.size();
            start_ = offset;
            got_ = r_.read(offset, buf_.data(), std::max(want, n));
        }
        return offset + n <= start_ + got_ ? buf_.data() + (offset - start_) : nullptr;
    }

private:
    static constexpr size_t kSize = 256 * 1024, kFirst = 4096;
    ByteReader& r_;
    std::vector<uint8_t> buf_;
    uint64_t start_ = 0;
    size_t got_ = 0;
    int fills_ = 0;
};

// The length of an ID3v2 tag at offset, or none.
std::optional<uint64_t> id3v2Length(Window& w, uint64_t offset) {
    const uint8_t* h = w.at(offset, 10);
    if (!h || std::memcmp(h, "ID3", 3) != 0) return std::nullopt;
    const uint8_t major = h[3], flags = h[5];
    if (major < 2 || major > 4 || h[4] == 0xFF) return std::nullopt;
    static constexpr uint8_t kUnknownFlags[5] = {0, 0, 0x3F, 0x1F, 0x0F};
    if (flags & kUnknownFlags[major]) return std::nullopt;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return std::nullopt;
    const uint32_t size = uint32_t{h[6]} << 21 | uint32_t{h[7]} << 14 | uint32_t{h[8]} << 7 | h[9];
    const bool footer = major == 4 && (flags & 0x10);
    return uint64_t{10} + size + (footer ? 10 : 0);
}

// A frame holding an encoder's stream summary (Xing, Info, VBRI) after its side
// information is the first frame of a file: met inside a chain, it starts the next one.
bool opensAFile(const uint8_t* h, size_t n) {
    for (const size_t at : {13u, 21u, 36u})
        if (at + 4 <= n &&
            (std::memcmp(h + at, "Xing", 4) == 0 || std::memcmp(h + at, "Info", 4) == 0 ||
             std::memcmp(h + at, "VBRI", 4) == 0))
            return true;
    return false;
}

struct Chain {
    uint64_t end;
    uint64_t last = 0;  // where the last frame starts
    uint64_t frames = 0;
    bool cut = false;  // a frame ran past the limit
};

Chain followFrames(Window& w, uint64_t limit, uint64_t from) {
    Chain c{from};
    std::optional<Frame> first;
    // A frame is at least 24 bytes: the cap only guards against a bad length table.
    for (uint64_t i = 0; i < 200'000'000; ++i) {
        const uint8_t* h = w.at(c.end, 4);
        if (!h) {
            c.cut = c.end < limit;
            break;
        }
        const auto f = parseFrame(h);
        if (!f || (first && !f->sameStream(*first))) break;
        if (first) {
            const uint8_t* whole = w.at(c.end, 40);
            if (whole && opensAFile(whole, 40)) break;
        }
        if (!first) first = f;
        if (f->length > limit - c.end) {
            c.cut = true;
            break;
        }
        c.last = c.end;
        c.end += f->length;
        ++c.frames;
    }
    return c;
}

bool startsWith(Window& w, uint64_t offset, const char* text) {
    const size_t n = std::strlen(text);
    const uint8_t* p = w.at(offset, n);
    return p && std::memcmp(p, text, n) == 0;
}

// An APEv2 tag starting at offset: with a header, or found by its footer, whose
// size then reaches back exactly to offset.
std::optional<uint64_t> apeLength(ByteReader& r, Window& w, uint64_t offset) {
    const uint8_t* p = w.at(offset, 32);
    if (!p) return std::nullopt;
    if (std::memcmp(p, "APETAGEX", 8) == 0) {
        const uint32_t version = le32(p + 8), size = le32(p + 12);
        if ((version != 1000 && version != 2000) || size < 32) return std::nullopt;
        const uint64_t end = offset + 32 + size;
        return startsWith(w, end - 32, "APETAGEX") ? std::optional(end - offset) : std::nullopt;
    }
    // No header: the bytes must look like a first item (value size, flags, key).
    const uint32_t flags = le32(p + 4);
    if (flags > 7 || p[8] < 0x20 || p[8] > 0x7E || p[9] < 0x20 || p[9] > 0x7E) return std::nullopt;
    static constexpr uint8_t kPreamble[] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
    const auto footer = r.find(offset, kPreamble, 8, 1024 * 1024);
    if (!footer) return std::nullopt;
    const uint8_t* f = w.at(*footer, 32);
    if (!f) return std::nullopt;
    const uint32_t size = le32(f + 12);
    if (*footer + 32 - offset != size) return std::nullopt;
    return size;
}

// A Lyrics3 block starting at offset (version 2 with its size, or version 1 up
// to its end word).
std::optional<uint64_t> lyricsLength(ByteReader& r, Window& w, uint64_t offset) {
    if (!startsWith(w, offset, "LYRICSBEGIN")) return std::nullopt;
    static constexpr uint8_t kEnd2[] = {'L', 'Y', 'R', 'I', 'C', 'S', '2', '0', '0'};
    if (const auto e = r.find(offset, kEnd2, 9, 1024 * 1024); e && *e >= offset + 6) {
        const uint8_t* digits = w.at(*e - 6, 6);
        uint64_t size = 0;
        for (int i = 0; digits && i < 6; ++i) {
            if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
            size = size * 10 + (digits[i] - '0');
        }
        if (digits && offset + size == *e - 6) return size + 6 + 9;
        return std::nullopt;
    }
    static constexpr uint8_t kEnd1[] = {'L', 'Y', 'R', 'I', 'C', 'S', 'E', 'N', 'D'};
    if (const auto e = r.find(offset, kEnd1, 9, 5100 + 11)) return *e + 9 - offset;
    return std::nullopt;
}

std::optional<Carved> carve(ByteReader& r) {
    const uint64_t limit = r.limit();
    Window w(r);
    uint64_t at = 0;
    bool tagged = false;
    for (int i = 0; i < 4; ++i) {
        const auto tag = id3v2Length(w, at);
        if (!tag) break;
        if (*tag > limit - at) return std::nullopt;
        at += *tag;
        tagged = true;
    }
    // Taggers may leave zero padding past the size they record.
    if (tagged)
        for (int i = 0; i < 65536; ++i) {
            const uint8_t* b = w.at(at, 1);
            if (!b || *b != 0) break;
            ++at;
        }

    Chain chain = followFrames(w, limit, at);
    const bool reachedLimit = chain.cut || chain.end == limit;
    if (tagged ? chain.frames < 2 && !(chain.frames == 1 && reachedLimit)
               : chain.frames < kBareFrames)
        return std::nullopt;

    uint64_t end = chain.end;
    if (!chain.cut) {
        if (const auto n = lyricsLength(r, w, end)) end += *n;
        if (const auto n = apeLength(r, w, end)) end += *n;
        if (startsWith(w, end, "TAG") && w.at(end, 128)) end += 128;
    }
    Carved c{"MP3", end, chain.cut};
    // Every frame header is checked; a file that overwrote the stream can only have
    // started inside the last frame.
    markUnchecked(c, chain.last, chain.end);
    return c;
}

}  // namespace

const CarverEntry& mp3Carver() {
    static const CarverEntry kEntry{"MPEG audio", kTypes, quick, carve, "I\xFF"};
    return kEntry;
}

}  // namespace kestrum::carve
