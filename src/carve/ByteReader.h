// A bounded, random-access view of the medium from one candidate file's first
// byte. Every structure walk reads through it, so no walk can read outside the
// medium, the scan's range or the size ceiling, whatever the bytes say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrum::carve {

class ByteReader {
public:
    virtual ~ByteReader() = default;

    // How many bytes exist from the file's first byte on: the range's end or the
    // size ceiling, whichever comes first. A walk that needs more stops here and
    // reports the file partial.
    virtual uint64_t limit() const = 0;

    // Copies min(n, limit() - offset) bytes at offset into out and returns how
    // many; 0 at or past the limit.
    virtual size_t read(uint64_t offset, void* out, size_t n) = 0;

    bool readExact(uint64_t offset, void* out, size_t n) { return read(offset, out, n) == n; }

    std::optional<uint8_t> u8(uint64_t offset);
    std::optional<uint16_t> be16(uint64_t offset);
    std::optional<uint16_t> le16(uint64_t offset);
    std::optional<uint32_t> be32(uint64_t offset);
    std::optional<uint32_t> le32(uint64_t offset);
    std::optional<uint64_t> be64(uint64_t offset);
    std::optional<uint64_t> le64(uint64_t offset);

    // The first offset >= from where the n pattern bytes stand, looking at most
    // maxScan bytes from `from` (the pattern must start inside that window);
    // none when it is not there or the limit comes first. Reads in large blocks.
    std::optional<uint64_t> find(uint64_t from, const uint8_t* pattern, size_t n,
                                 uint64_t maxScan);
};

// Bytes held in memory, for tests and the fuzz target; limit = size unless a
// smaller one is given.
class MemoryReader final : public ByteReader {
public:
    MemoryReader(const uint8_t* data, size_t size) : data_(data), limit_(size) {}
    MemoryReader(const uint8_t* data, size_t size, uint64_t limit)
        : data_(data), limit_(limit < size ? limit : size) {}
    uint64_t limit() const override { return limit_; }
    size_t read(uint64_t offset, void* out, size_t n) override;

private:
    const uint8_t* data_;
    uint64_t limit_;
};

}  // namespace kestrum::carve
