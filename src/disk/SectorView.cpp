// The byte-pattern search behind the marker and token searches. The wide path
// checks 32 (or 16) start positions per step on the pattern's first and last
// byte; only candidates that pass both are compared in full.
#include "disk/SectorView.h"

#include <immintrin.h>

namespace kestrum {
namespace {

inline bool restEquals(const uint8_t* at, const uint8_t* pattern, size_t n) {
    return n <= 2 || std::memcmp(at + 1, pattern + 1, n - 2) == 0;
}

size_t findTail(const uint8_t* data, size_t length, const uint8_t* pattern, size_t n, size_t i) {
    for (; i + n <= length; ++i)
        if (data[i] == pattern[0] && data[i + n - 1] == pattern[n - 1] &&
            restEquals(data + i, pattern, n))
            return i;
    return SectorView::npos;
}

__attribute__((target("avx2"))) size_t findAvx2(const uint8_t* data, size_t length,
                                                const uint8_t* pattern, size_t n) {
    const __m256i first = _mm256_set1_epi8(static_cast<char>(pattern[0]));
    const __m256i last = _mm256_set1_epi8(static_cast<char>(pattern[n - 1]));
    size_t i = 0;
    for (; i + n - 1 + 32 <= length; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + n - 1));
        unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
        while (mask != 0) {
            const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
            if (restEquals(data + at, pattern, n)) return at;
            mask &= mask - 1;
        }
    }
    return findTail(data, length, pattern, n, i);
}

size_t findSse2(const uint8_t* data, size_t length, const uint8_t* pattern, size_t n) {
    const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[0]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(pattern[n - 1]));
    size_t i = 0;
    for (; i + n - 1 + 16 <= length; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + n - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        while (mask != 0) {
            const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
            if (restEquals(data + at, pattern, n)) return at;
            mask &= mask - 1;
        }
    }
    return findTail(data, length, pattern, n, i);
}

const bool hasAvx2 = __builtin_cpu_supports("avx2");

}  // namespace

size_t SectorView::findIn(const uint8_t* data, size_t length, const uint8_t* pattern, size_t n) {
    if (n == 0) return 0;
    if (n > length) return npos;
    return hasAvx2 ? findAvx2(data, length, pattern, n) : findSse2(data, length, pattern, n);
}

}  // namespace kestrum
