// A bounded window on sectors read from the source: where the bytes are, how many
// there are, and which sector the first one is. Searches go through it, so a
// pattern that would run past the sectors that were read simply does not match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrum {

inline constexpr size_t kSectorBytes = 512;

class SectorView {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    SectorView(const uint8_t* base, size_t length, uint64_t firstSector)
        : base_(base), length_(length), firstSector_(firstSector) {}

    const uint8_t* data() const { return base_; }
    size_t size() const { return length_; }
    uint64_t firstSector() const { return firstSector_; }

    // The byte at pos, or 0 beyond the end.
    uint8_t byteAt(size_t pos) const { return pos < length_ ? base_[pos] : 0; }

    // True when the n bytes at pos lie inside the view and equal pattern.
    bool equalAt(size_t pos, const uint8_t* pattern, size_t n) const {
        if (pos > length_ || n > length_ - pos) return false;
        return n == 0 || std::memcmp(base_ + pos, pattern, n) == 0;
    }

    // The lowest start position p <= lastStart at which the n pattern bytes lie
    // inside the view and equal pattern; npos when there is none.
    size_t find(const uint8_t* pattern, size_t n, size_t lastStart) const {
        if (n == 0) return 0;  // an empty pattern compares nothing and so matches at once
        if (n > length_) return npos;
        const size_t starts = lastStart < length_ - n ? lastStart + 1 : length_ - n + 1;
        return findIn(base_, starts + n - 1, pattern, n);
    }

    // The first occurrence of pattern (n >= 1 bytes) in data[0, length), or npos.
    // Runs on every byte of an open file, so it filters many start positions at a
    // time on the pattern's first and last byte and compares only what passes.
    static size_t findIn(const uint8_t* data, size_t length, const uint8_t* pattern, size_t n);

    // The view from sector j of this one to its end: searches that start in
    // sector j may run on into the sectors after it, never further.
    SectorView fromSector(size_t j) const {
        const size_t skip = j * kSectorBytes < length_ ? j * kSectorBytes : length_;
        return {base_ + skip, length_ - skip, firstSector_ + j};
    }

    // The first n bytes only (for a search that must stay inside one sector).
    SectorView head(size_t n) const { return {base_, n < length_ ? n : length_, firstSector_}; }

private:
    const uint8_t* base_;
    size_t length_;
    uint64_t firstSector_;
};

}  // namespace kestrum
