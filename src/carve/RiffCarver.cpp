// RIFF carver: the form type and its first chunks decide the class, the RIFF size
// (or, from streaming writers that left it open, the chunk walk) the length.
#include "carve/RiffCarver.h"

#include <array>
#include <cstring>

#include "carve/ByteOrder.h"
#include "carve/ChunkWalk.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 5> kTypes{"WAV", "AVI", "DIVX", "MIDI", "WEBP"};

// Video codes users know as DivX: the handler in the stream header or the
// compression in the stream format.
constexpr std::array<std::string_view, 5> kDivxCodes{"DIVX", "DX50", "XVID", "DIV3", "DIV4"};

bool isDivxCode(const char* code) {
    for (std::string_view c : kDivxCodes)
        if (sameCode(code, c)) return true;
    return false;
}

bool quick(const uint8_t* s) {
    if (std::memcmp(s, "RF64", 4) == 0 || std::memcmp(s, "BW64", 4) == 0)
        return std::memcmp(s + 8, "WAVE", 4) == 0;
    if (std::memcmp(s, "RIFF", 4) != 0) return false;
    return std::memcmp(s + 8, "WAVE", 4) == 0 || std::memcmp(s + 8, "AVI ", 4) == 0 ||
           std::memcmp(s + 8, "RMID", 4) == 0 || std::memcmp(s + 8, "WEBPVP8", 7) == 0;
}

// WebP: the picture's first chunk is its lossy (VP8), lossless (VP8L) or extended
// (VP8X) header, checked by its own signature.
bool webpFirst(ByteReader& r, const ChunkHeader& c) {
    uint8_t b[10];
    if (c.is("VP8X")) return c.size == 10;
    if (c.is("VP8L")) return c.size >= 5 && r.readExact(c.body(), b, 1) && b[0] == 0x2F;
    return c.is("VP8 ") && c.size >= 10 && r.readExact(c.body(), b, 10) && b[3] == 0x9D &&
           b[4] == 0x01 && b[5] == 0x2A;
}

bool saneWaveFormat(ByteReader& r, const ChunkHeader& c) {
    if (c.size < 14 || c.size > 65536) return false;
    uint8_t f[14];
    if (!r.readExact(c.body(), f, sizeof f)) return false;
    const uint16_t tag = f[0] | f[1] << 8;
    const uint16_t channels = f[2] | f[3] << 8;
    const uint32_t rate = le32(f + 4);
    const uint16_t blockAlign = f[12] | f[13] << 8;
    return tag != 0 && channels >= 1 && channels <= 1024 && rate >= 1 && rate <= 100'000'000 &&
           blockAlign != 0;
}

// WAVE: "fmt " among the first chunks (after JUNK, bext, LIST and the like) and sane.
struct WaveCheck {
    bool sizeKnown = true;
    std::optional<uint64_t> rf64Data;  // the data size from an RF64 ds64 chunk
    bool fmt = false;
    bool openData = false;  // a streaming writer's data chunk whose size was never filled in
    uint32_t seen = 0;
    bool operator()(ByteReader& r, ChunkHeader& c) {
        if (rf64Data && c.is("data") && c.size == 0xFFFFFFFF) c.size = *rf64Data;
        if (fmt) {
            openData = !sizeKnown && c.is("data") && (c.size == 0 || c.size == 0xFFFFFFFF);
            return !openData;
        }
        if (++seen > 8 || c.is("data")) return false;
        if (!c.is("fmt ")) return true;
        fmt = saneWaveFormat(r, c);
        return fmt;
    }
};

// Whether the header list names a DivX/XviD video stream: strl lists hold a
// stream header (type, handler) and a stream format (BITMAPINFOHEADER for video).
bool hasDivxStream(ByteReader& r, const ChunkHeader& hdrl) {
    bool divx = false;
    const uint64_t hdrlEnd = hdrl.body() + hdrl.size;
    walkChunks(
        r, hdrl.body() + 4, hdrlEnd, false,
        [&](const ChunkHeader& c) {
            char listType[4];
            if (!c.is("LIST") || c.size < 4 || !r.readExact(c.body(), listType, 4) ||
                std::memcmp(listType, "strl", 4) != 0)
                return true;
            bool video = false;
            walkChunks(
                r, c.body() + 4, c.body() + c.size, false,
                [&](const ChunkHeader& s) {
                    char code[8];
                    if (s.is("strh") && s.size >= 8 && r.readExact(s.body(), code, 8)) {
                        video = std::memcmp(code, "vids", 4) == 0;
                        if (video && isDivxCode(code + 4)) divx = true;
                    } else if (s.is("strf") && video && s.size >= 20 &&
                               r.readExact(s.body() + 16, code, 4) && isDivxCode(code)) {
                        divx = true;
                    }
                    return !divx;
                },
                64);
            return !divx;
        },
        4096);
    return divx;
}

// AVI: the header list "hdrl" first, opening with the main header "avih".
struct AviCheck {
    bool hdrl = false;
    bool divx = false;
    bool operator()(ByteReader& r, const ChunkHeader& c) {
        if (hdrl) return true;
        uint8_t head[12];
        if (!c.is("LIST") || c.size < 4 + 8 + 56 || !r.readExact(c.body(), head, 12)) return false;
        if (std::memcmp(head, "hdrl", 4) != 0 || std::memcmp(head + 4, "avih", 4) != 0)
            return false;
        hdrl = true;
        divx = hasDivxStream(r, c);
        return true;
    }
};

// MIDI in RIFF: one "data" chunk holding a standard MIDI file.
bool midiInRiff(ByteReader& r, const ChunkHeader& c) {
    static constexpr uint8_t kMThd[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    uint8_t head[8];
    return c.is("data") && c.size >= 14 && r.readExact(c.body(), head, 8) &&
           std::memcmp(head, kMThd, 8) == 0;
}

// RF64/BW64 (WAV over 4 GB): the 64-bit RIFF and data sizes stand in the ds64
// chunk that must come first.
struct Ds64 {
    uint64_t riffSize;
    uint64_t dataSize;
};

std::optional<Ds64> readDs64(ByteReader& r) {
    uint8_t d[28];
    if (!r.readExact(12, d, sizeof d) || std::memcmp(d, "ds64", 4) != 0) return std::nullopt;
    const uint32_t size = le32(d + 4);
    const Ds64 out{le64(d + 8), le64(d + 16)};
    // The first two chunks and the form type at least; no end past 2^62 bytes.
    if (size < 24 || out.riffSize < 4 + 8 + 24 || out.riffSize > (uint64_t{1} << 62))
        return std::nullopt;
    return out;
}

// OpenDML: an AVI over 1 GB goes on in "RIFF AVIX" chunks straight after the first.
uint64_t followAvix(ByteReader& r, uint64_t at, bool& partial) {
    for (int i = 0; i < 100'000; ++i) {
        uint8_t h[12];
        if (!r.readExact(at, h, 12) || std::memcmp(h, "RIFF", 4) != 0 ||
            std::memcmp(h + 8, "AVIX", 4) != 0)
            return at;
        const uint32_t size = le32(h + 4);
        if (size < 4) return at;
        const uint64_t end = at + 8 + uint64_t{size};
        const ChunkWalk w =
            walkChunks(r, at + 12, end, false, [](const ChunkHeader&) { return true; });
        if (w.stop != ChunkStop::End) {
            partial = true;
            return w.end;
        }
        at = end + (size & 1 && end < r.limit() ? 1 : 0);
    }
    return at;
}

// The largest chunk body: the samples of a WAV, the movi list of an AVI. Nothing
// checks what it holds.
struct Payload {
    uint64_t from = 0, to = 0;
    bool movi = false;
    void note(ByteReader& r, const ChunkHeader& c) {
        if (c.size <= to - from) return;
        from = c.body();
        to = c.body() + c.size;
        char list[4];
        movi = c.is("LIST") && c.size >= 4 && r.readExact(from, list, 4) &&
               std::memcmp(list, "movi", 4) == 0;
    }
};

// Chunk ids inside movi: stream data ("00dc", "01wb"), index pieces ("ix00"),
// padding and "rec " lists.
bool streamChunk(const ChunkHeader& c) {
    const auto digit = [](char x) { return (x >= '0' && x <= '9') || (x >= 'a' && x <= 'f'); };
    const auto lower = [](char x) { return x >= 'a' && x <= 'z'; };
    return (digit(c.id[0]) && digit(c.id[1]) && lower(c.id[2]) && lower(c.id[3])) ||
           (c.id[0] == 'i' && c.id[1] == 'x') || c.is("JUNK") || c.is("LIST");
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[12];
    if (!r.readExact(0, h, 12)) return std::nullopt;
    uint64_t riffSize = le32(h + 4);
    std::optional<Ds64> ds64;
    if (std::memcmp(h, "RF64", 4) == 0 || std::memcmp(h, "BW64", 4) == 0) {
        ds64 = readDs64(r);
        if (!ds64 || std::memcmp(h + 8, "WAVE", 4) != 0) return std::nullopt;
        riffSize = ds64->riffSize;
    } else if (std::memcmp(h, "RIFF", 4) != 0) {
        return std::nullopt;
    }
    // None when a streaming writer left the size open.
    std::optional<uint64_t> to;
    if (riffSize != 0 && riffSize != 0xFFFFFFFF) to = 8 + riffSize;
    if (to && riffSize < 4 + 8) return std::nullopt;

    Carved out;

    uint64_t bitstreamFrom = 0, bitstreamTo = 0;  // a WebP picture's coded data
    ChunkWalk w{};
    Payload payload;
    if (std::memcmp(h + 8, "WAVE", 4) == 0) {
        WaveCheck check;
        check.sizeKnown = to.has_value();
        if (ds64) check.rf64Data = ds64->dataSize;
        uint64_t data = 0;
        w = walkChunks(r, 12, to, false, [&](ChunkHeader& c) {
            const bool ok = check(r, c);
            if (check.openData) data = c.body();
            if (ok) payload.note(r, c);
            return ok;
        });
        if (!check.fmt) return std::nullopt;
        // The samples run on to an end nothing records: they end where the data
        // does, or where a newer file begins.
        if (check.openData) {
            Carved open{"WAV", r.limit(), true};
            markUnchecked(open, data, open.length);
            open.openEnded = open.checkedLength != 0;
            return open;
        }
        out.type = "WAV";
    } else if (std::memcmp(h + 8, "AVI ", 4) == 0) {
        AviCheck check;
        w = walkChunks(r, 12, to, false, [&](const ChunkHeader& c) {
            const bool ok = check(r, c);
            if (ok) payload.note(r, c);
            return ok;
        });
        if (!check.hdrl) return std::nullopt;
        out.type = check.divx ? "DIVX" : "AVI";
    } else if (std::memcmp(h + 8, "WEBP", 4) == 0) {
        if (!to) return std::nullopt;  // a picture's writer knows its size
        bool first = true;
        w = walkChunks(r, 12, to, false, [&](const ChunkHeader& c) {
            const bool ok = !first || webpFirst(r, c);
            first = false;
            // The compressed picture (or an animation's frames) is checked by no
            // structure of ours: newer files may begin inside it.
            if (ok && (c.is("VP8 ") || c.is("VP8L") || c.is("ANMF"))) {
                if (bitstreamFrom == 0) bitstreamFrom = c.body();
                bitstreamTo = c.body() + c.size;
            }
            return ok;
        });
        if (first) return std::nullopt;
        out.type = "WEBP";
    } else if (std::memcmp(h + 8, "RMID", 4) == 0) {
        bool first = true;
        w = walkChunks(r, 12, to, false, [&](const ChunkHeader& c) {
            const bool ok = !first || midiInRiff(r, c);
            first = false;
            return ok;
        });
        if (first) return std::nullopt;
        out.type = "MIDI";
    } else {
        return std::nullopt;
    }
    if (w.stop == ChunkStop::Rejected) return std::nullopt;

    out.length = w.end;
    out.partial = w.stop != ChunkStop::End;
    // The RIFF chunk's own pad byte, when the size is odd.
    if (to && w.stop == ChunkStop::End && (riffSize & 1) && out.length < r.limit()) ++out.length;
    if (payload.movi && payload.to <= out.length) {
        // The movi size is no proof: its chunks must follow one another to its end.
        uint64_t last = payload.from;
        const ChunkWalk m =
            walkChunks(r, payload.from + 4, payload.to, false, [&](const ChunkHeader& c) {
                last = c.offset;
                return streamChunk(c);
            });
        if (m.stop != ChunkStop::End || m.end != payload.to) {
            out.length = m.end;
            out.partial = true;
            markUnchecked(out, payload.from, m.end);
            return out;
        }
        // The chain vouches for every chunk but the frames in them (a motion-JPEG
        // frame may well start a sector): newer bytes can only start in the last one.
        payload.from = last;
    }
    if ((out.type == "AVI" || out.type == "DIVX") && to && !out.partial)
        out.length = followAvix(r, out.length, out.partial);
    markUnchecked(out, payload.from, payload.to);
    markUnchecked(out, bitstreamFrom, bitstreamTo);
    return out;
}

}  // namespace

const CarverEntry& riffCarver() {
    static const CarverEntry kEntry{"RIFF", kTypes, quick, carve, "RB"};
    return kEntry;
}

}  // namespace kestrum::carve
