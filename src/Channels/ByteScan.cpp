// Vector byte scans: SSE2 everywhere on x86-64, AVX2 chosen at run time where the processor has it,
// plain loops elsewhere. All give the same results; the tail of a buffer goes byte by byte.
#include "Channels/ByteScan.h"

#include <bit>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define QUILLON_SCAN_SSE2 1
#define QUILLON_SCAN_AVX2 1
#elif defined(_M_X64)
#include <emmintrin.h>
#define QUILLON_SCAN_SSE2 1
#endif

namespace velmora {

namespace {

constexpr uint8_t kMarker = 0xFF;

// From i on, byte by byte: the scan's tail, and the whole scan where there are no vector compares.
size_t CollectBytewise(const uint8_t* data, size_t size, size_t i, uint32_t* out, size_t max, size_t* next) {
    size_t count = 0;
    for (; i < size; ++i) {
        if (data[i] != kMarker || (i + 1 < size && data[i + 1] == 0x00)) continue;
        if (count == max) break;
        out[count++] = static_cast<uint32_t>(i);
    }
    *next = i;
    return count;
}

#ifdef QUILLON_SCAN_SSE2
// Blocks of 16 positions: a 0xFF whose follower (the same block loaded one byte on) is not 0x00.
// A block is taken only while the byte after it exists and `out` has room for a whole block; the rest
// goes byte by byte, which stops when `out` is full.
size_t CollectSse2(const uint8_t* data, size_t size, size_t i, uint32_t* out, size_t max, size_t* next) {
    const __m128i ff = _mm_set1_epi8(static_cast<char>(kMarker)), zero = _mm_setzero_si128();
    size_t count = 0;
    for (; i + 16 < size && count + 16 <= max; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, ff))) &
                        ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, zero)));
        for (; mask != 0; mask &= mask - 1) out[count++] = static_cast<uint32_t>(i + std::countr_zero(mask));
    }
    // The tail, or the last few offsets that fit.
    return count + CollectBytewise(data, size, i, out + count, max - count, next);
}

// Sixteen start positions at a time, screened by the needle's first and last byte together.
size_t FindTextSse2(std::string_view text, std::string_view needle, size_t from) {
    const size_t n = needle.size();
    size_t i = from;
    if (n >= 2) {
        const __m128i first = _mm_set1_epi8(needle.front()), last = _mm_set1_epi8(needle.back());
        for (; i + n + 15 <= text.size(); i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i + n - 1));
            for (uint32_t mask = static_cast<uint32_t>(
                     _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
                 mask != 0; mask &= mask - 1) {
                const size_t at = i + static_cast<size_t>(std::countr_zero(mask));
                if (std::memcmp(text.data() + at + 1, needle.data() + 1, n - 2) == 0) return at;
            }
        }
    }
    return text.find(needle, i);
}
#endif

#ifdef QUILLON_SCAN_AVX2
// The same two scans, 32 positions at a time.
__attribute__((target("avx2"))) size_t CollectAvx2(const uint8_t* data, size_t size, size_t i, uint32_t* out,
                                                   size_t max, size_t* next) {
    const __m256i ff = _mm256_set1_epi8(static_cast<char>(kMarker)), zero = _mm256_setzero_si256();
    size_t count = 0;
    for (; i + 32 < size && count + 32 <= max; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1));
        uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, ff))) &
                        ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, zero)));
        for (; mask != 0; mask &= mask - 1) out[count++] = static_cast<uint32_t>(i + std::countr_zero(mask));
    }
    return count + CollectSse2(data, size, i, out + count, max - count, next);
}

__attribute__((target("avx2"))) size_t FindTextAvx2(std::string_view text, std::string_view needle, size_t from) {
    const size_t n = needle.size();
    size_t i = from;
    if (n >= 2) {
        const __m256i first = _mm256_set1_epi8(needle.front()), last = _mm256_set1_epi8(needle.back());
        for (; i + n + 31 <= text.size(); i += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text.data() + i));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text.data() + i + n - 1));
            for (uint32_t mask = static_cast<uint32_t>(
                     _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
                 mask != 0; mask &= mask - 1) {
                const size_t at = i + static_cast<size_t>(std::countr_zero(mask));
                if (std::memcmp(text.data() + at + 1, needle.data() + 1, n - 2) == 0) return at;
            }
        }
    }
    return FindTextSse2(text, needle, i);
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

}  // namespace

size_t FindMarkerBytes(const uint8_t* data, size_t size, size_t from, uint32_t* out, size_t max, size_t* next) {
#if defined(QUILLON_SCAN_AVX2)
    if (HasAvx2()) return CollectAvx2(data, size, from, out, max, next);
#endif
#if defined(QUILLON_SCAN_SSE2)
    return CollectSse2(data, size, from, out, max, next);
#else
    return CollectBytewise(data, size, from, out, max, next);
#endif
}

size_t FindText(std::string_view text, std::string_view needle, size_t from) {
    if (from > text.size()) return std::string_view::npos;
#if defined(QUILLON_SCAN_AVX2)
    if (HasAvx2()) return FindTextAvx2(text, needle, from);
#endif
#if defined(QUILLON_SCAN_SSE2)
    return FindTextSse2(text, needle, from);
#else
    return text.find(needle, from);
#endif
}

}  // namespace velmora
