// ASF carver: the header object's own objects give the recorded file size and the
// stream types; the top-level objects (header, data, indexes) are walked by their
// 64-bit sizes to confirm the size or, for broadcast files, to find the end.
#include "carve/AsfCarver.h"

#include <array>
#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 2> kTypes{"WMA", "ASF"};

using Guid = std::array<uint8_t, 16>;

// GUIDs in their on-disk byte order.
constexpr Guid kHeader{0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kData{0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFileProperties{0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                               0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamProperties{0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kAudioStream{0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                            0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kVideoStream{0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                            0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
// Objects that may follow the data object.
constexpr std::array<Guid, 4> kIndexes{{
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49,
     0xCB},  // simple index
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49,
     0xBE},  // index
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4,
     0x8C},  // media object index
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F,
     0x0C},  // timecode index
}};

constexpr uint64_t kObjectHeader = 24;  // GUID and 64-bit size

bool is(const uint8_t* bytes, const Guid& g) {
    return std::memcmp(bytes, g.data(), 16) == 0;
}

bool quick(const uint8_t* s) {
    return is(s, kHeader);
}

struct HeaderFacts {
    uint64_t fileSize = 0;  // 0 when unknown (broadcast)
    bool properties = false;
    bool audio = false;
    bool video = false;
};

// The header object's children must tile it exactly.
std::optional<HeaderFacts> readHeader(ByteReader& r, uint64_t headerSize, uint32_t count) {
    HeaderFacts facts;
    uint64_t at = 30;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t o[kObjectHeader + 80];
        if (!r.readExact(at, o, kObjectHeader)) return std::nullopt;
        const uint64_t size = le64(o + 16);
        if (size < kObjectHeader || size > headerSize - at) return std::nullopt;
        if (is(o, kFileProperties)) {
            if (size < 104 || !r.readExact(at, o, 104)) return std::nullopt;
            const uint32_t flags = le32(o + 88);
            facts.properties = true;
            facts.fileSize = (flags & 1) ? 0 : le64(o + 40);
        } else if (is(o, kStreamProperties)) {
            if (size < kObjectHeader + 16 || !r.readExact(at + kObjectHeader, o, 16))
                return std::nullopt;
            facts.audio |= is(o, kAudioStream);
            facts.video |= is(o, kVideoStream);
        }
        at += size;
    }
    if (at != headerSize || !facts.properties) return std::nullopt;
    return facts;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[30];
    if (!r.readExact(0, h, sizeof h) || !is(h, kHeader)) return std::nullopt;
    const uint64_t headerSize = le64(h + 16);
    const uint32_t count = le32(h + 24);
    // The two reserved bytes are 1 and 2 in every writer's output.
    if (h[28] != 1 || h[29] != 2 || count == 0 || count > 10000) return std::nullopt;
    if (headerSize < 30 + count * kObjectHeader || headerSize > r.limit()) return std::nullopt;
    const auto facts = readHeader(r, headerSize, count);
    if (!facts) return std::nullopt;
    uint8_t o[kObjectHeader];
    if (!r.readExact(headerSize, o, sizeof o) || !is(o, kData)) return std::nullopt;

    Carved out{facts->audio && !facts->video ? "WMA" : "ASF", headerSize, false};
    const uint64_t limit = r.limit();
    const uint64_t target = facts->fileSize >= headerSize + kObjectHeader ? facts->fileSize : 0;
    uint64_t at = headerSize;
    for (int i = 0; i < 64; ++i) {
        if (target && at >= target) break;
        if (!r.readExact(at, o, sizeof o)) {
            out.partial = at < limit || (target && at < target);
            break;
        }
        const bool data = i == 0;
        bool known = data;
        for (const Guid& g : kIndexes) known |= is(o, g);
        const uint64_t size = le64(o + 16);
        if (!known || size < kObjectHeader) {
            // Past the data object an unknown object ends a file of unknown size;
            // before the recorded size it means the bytes were overwritten.
            out.partial = target != 0 || data;
            break;
        }
        if (size > limit - at) {
            out.length = target ? std::min(target, limit) : limit;
            out.partial = true;
            if (data) markUnchecked(out, at + kObjectHeader, out.length);
            break;
        }
        at += size;
        out.length = at;
        // The data packets are checked by nothing.
        if (data) markUnchecked(out, at - size + kObjectHeader, at);
    }
    if (target && out.length != target) out.partial = true;
    if (out.uncheckedEnd >= out.length) out.uncheckedEnd = 0;
    return out;
}

}  // namespace

const CarverEntry& asfCarver() {
    static const CarverEntry kEntry{"ASF", kTypes, quick, carve, "\x30"};
    return kEntry;
}

}  // namespace kestrum::carve
