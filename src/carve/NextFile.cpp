#include "carve/NextFile.h"

#include <algorithm>
#include <array>

namespace kestrum::carve {
namespace {

// The bytes of another reader from an offset on.
class OffsetReader final : public ByteReader {
public:
    OffsetReader(ByteReader& r, uint64_t offset) : r_(r), offset_(offset) {}
    uint64_t limit() const override { return r_.limit() - offset_; }
    size_t read(uint64_t offset, void* out, size_t n) override {
        return r_.read(offset_ + offset, out, n);
    }

private:
    ByteReader& r_;
    uint64_t offset_;
};

}  // namespace

bool otherFileStartsAt(ByteReader& r, uint64_t at, const CarverEntry& self) {
    if (at >= r.limit()) return false;
    std::array<uint8_t, 512> sector{};
    r.read(at, sector.data(), sector.size());
    for (const CarverEntry& c : carvers()) {
        if (c.carve == self.carve || !c.quick(sector.data())) continue;
        OffsetReader from(r, at);
        if (c.carve(from)) return true;
    }
    return false;
}

}  // namespace kestrum::carve
