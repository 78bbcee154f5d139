// Paint Shop Pro images: the 32-byte signature and a version, then main blocks
// ("~BK\0", an id, lengths) one after another, the first of them the image
// attributes. The file has no end mark: it ends where the blocks stop.
#include "carve/PspCarver.h"

#include <cstring>

#include "carve/ByteOrder.h"

namespace kestrum::carve {
namespace {

constexpr std::string_view kTypes[] = {"PSP"};
constexpr char kSignature[] = "Paint Shop Pro Image File\n\x1a";  // 27 bytes, then zeros to 32
constexpr int kMaxBlocks = 100000;
constexpr uint16_t kMaxBlockId = 64;

bool quick(const uint8_t* s) {
    return std::memcmp(s, kSignature, 16) == 0;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[36];
    if (!r.readExact(0, h, 36) || std::memcmp(h, kSignature, 27) != 0 ||
        std::memcmp(h + 27, "\0\0\0\0\0", 5) != 0)
        return std::nullopt;
    // Version 3 (Paint Shop Pro 5) block headers carry an extra length: the
    // size of the block's first data chunk.
    const uint16_t major = le16(h + 32);
    if (major < 3 || major > 30) return std::nullopt;
    const uint64_t headerBytes = major == 3 ? 14 : 10;
    uint64_t pos = 36;
    for (int n = 0; n < kMaxBlocks; ++n) {
        uint8_t b[14];
        const size_t got = r.read(pos, b, headerBytes);
        if (got < 4 || std::memcmp(b, "~BK\0", 4) != 0) {
            if (n == 0) return std::nullopt;
            // Fewer bytes than a block mark at the limit: the file may go on.
            if (got < 4 && pos < r.limit() && std::memcmp(b, "~BK", got) == 0)
                return Carved{kTypes[0], r.limit(), true};
            return Carved{kTypes[0], pos, false};
        }
        if (got < headerBytes) return Carved{kTypes[0], r.limit(), true};
        const uint16_t id = le16(b + 4);
        const uint32_t length = le32(b + headerBytes - 4);
        // The image attributes come first, their first chunk's size in the block
        // header (version 3) or opening the chunk.
        if (n == 0) {
            const auto chunk = major == 3 ? le32(b + 6) : r.le32(pos + headerBytes);
            if (id != 0 || length < 38 || !chunk || *chunk < 38 || *chunk > length)
                return std::nullopt;
        } else if (id >= kMaxBlockId) {
            return Carved{kTypes[0], pos, true};
        }
        pos += headerBytes + length;
        if (pos > r.limit()) return Carved{kTypes[0], r.limit(), true};
    }
    return Carved{kTypes[0], pos, true};
}

}  // namespace

const CarverEntry& pspCarver() {
    static const CarverEntry entry{"PSP", kTypes, quick, carve, "P"};
    return entry;
}

}  // namespace kestrum::carve
