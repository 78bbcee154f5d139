// GIF: the version, the logical screen descriptor and its colour table, then
// extension and image blocks, each ending its chain of data sub-blocks with an
// empty one, up to the trailer byte.
#include "carve/GifCarver.h"

#include <cstring>
#include <vector>

namespace kestrum::carve {
namespace {

constexpr std::string_view kTypes[] = {"GIF"};
constexpr int kMaxBlocks = 1000000;
constexpr uint64_t kMaxSubBlocks = 20000000;  // some 5 GB of 255-byte sub-blocks
constexpr size_t kWindow = 64 * 1024;

// Byte access through a window that moves forward with the walk: a chain of
// sub-blocks costs one read per window, not one per sub-block.
class Bytes {
public:
    explicit Bytes(ByteReader& r) : r_(r), buf_(kWindow) {}
    bool get(uint64_t at, uint8_t& out) {
        if (at < start_ || at - start_ >= got_) {
            start_ = at;
            got_ = r_.read(at, buf_.data(), buf_.size());
            if (got_ == 0) return false;
        }
        out = buf_[static_cast<size_t>(at - start_)];
        return true;
    }

private:
    ByteReader& r_;
    std::vector<uint8_t> buf_;
    uint64_t start_ = 0;
    size_t got_ = 0;
};

enum class Stop { kDone, kLimit, kBroken };

// Walks the sub-blocks from `at` past the empty one that closes them.
Stop subBlocks(Bytes& b, uint64_t& at, uint64_t& budget) {
    for (;;) {
        if (budget-- == 0) return Stop::kBroken;
        uint8_t size;
        if (!b.get(at, size)) return Stop::kLimit;
        at += 1 + size;
        if (size == 0) return Stop::kDone;
    }
}

uint64_t colourTable(uint8_t flags) {
    return (flags & 0x80) ? 3ull << ((flags & 7) + 1) : 0;
}

bool quick(const uint8_t* s) {
    return std::memcmp(s, "GIF87a", 6) == 0 || std::memcmp(s, "GIF89a", 6) == 0;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t h[13];
    if (!r.readExact(0, h, 13) || !quick(h)) return std::nullopt;
    Bytes b(r);
    uint64_t pos = 13 + colourTable(h[10]);
    uint64_t budget = kMaxSubBlocks;
    int blocks = 0;        // blocks walked to their end
    bool started = false;  // the first block's header checked out
    // Random bytes after the magic are most often rejected at the first block;
    // later breaks are damage. A cut by the limit needs a block header.
    // Sub-block sizes chain the data, yet any bytes may pass for them: after a
    // break, newer files may begin anywhere in the image data walked.
    uint64_t data = 0;
    const auto damaged = [&](uint64_t at) {
        Carved c{kTypes[0], at, true};
        markUnchecked(c, data, at);
        return c;
    };
    auto broken = [&](uint64_t at) -> std::optional<Carved> {
        if (blocks == 0) return std::nullopt;
        return damaged(at);
    };
    auto cut = [&]() -> std::optional<Carved> {
        if (!started) return std::nullopt;
        return damaged(r.limit());
    };
    for (int n = 0; n < kMaxBlocks; ++n) {
        uint8_t d[10];
        const size_t got = r.read(pos, d, sizeof d);
        if (got == 0) return cut();
        const uint64_t start = pos;
        if (d[0] == 0x3B) {
            if (blocks == 0) return std::nullopt;
            return Carved{kTypes[0], pos + 1, false};
        }
        if (d[0] == 0x21) {
            if (got < 3) return cut();
            const uint8_t label = d[1], size = d[2];
            // Fixed-size first sub-blocks of the known extensions: control,
            // plain text, application.
            if ((label == 0xF9 && size != 4) || (label == 0x01 && size != 12) ||
                (label == 0xFF && size != 11))
                return broken(start);
            if (label != 0xF9 && label != 0x01 && label != 0xFF && label != 0xFE)
                return broken(start);
            pos += 2;
        } else if (d[0] == 0x2C) {
            if (got < 10) return cut();
            const uint16_t width = d[5] | d[6] << 8, height = d[7] | d[8] << 8;
            if (width == 0 || height == 0) return broken(start);
            pos += 10 + colourTable(d[9]);
            uint8_t codeSize;
            if (!b.get(pos, codeSize)) return cut();
            if (codeSize < 1 || codeSize > 12) return broken(start);
            ++pos;
            if (data == 0) data = pos;
        } else {
            return broken(start);
        }
        started = true;
        const Stop s = subBlocks(b, pos, budget);
        if (s == Stop::kLimit) return cut();
        if (s == Stop::kBroken) return broken(start);
        if (pos > r.limit()) return cut();
        ++blocks;
    }
    return broken(pos);
}

}  // namespace

const CarverEntry& gifCarver() {
    static const CarverEntry entry{"GIF", kTypes, quick, carve, "G"};
    return entry;
}

}  // namespace kestrum::carve
