#include "dsdfile/PlanarInterleave.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KW_INTERLEAVE_SSE2 1
#else
#define KW_INTERLEAVE_SSE2 0
#endif

namespace {

#if KW_INTERLEAVE_SSE2
inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Sixteen frames per step; returns the frames done.
size_t Interleave2(const uint8_t* a, const uint8_t* b, size_t frames, uint8_t* out) {
    size_t k = 0;
    for (; k + 16 <= frames; k += 16) {
        const __m128i x = Load(a + k), y = Load(b + k);
        Store(out + 2 * k, _mm_unpacklo_epi8(x, y));
        Store(out + 2 * k + 16, _mm_unpackhi_epi8(x, y));
    }
    return k;
}

size_t Interleave4(const uint8_t* const* p, size_t frames, uint8_t* out) {
    size_t k = 0;
    for (; k + 16 <= frames; k += 16) {
        const __m128i a = Load(p[0] + k), b = Load(p[1] + k), c = Load(p[2] + k), d = Load(p[3] + k);
        const __m128i ab0 = _mm_unpacklo_epi8(a, b), ab1 = _mm_unpackhi_epi8(a, b);
        const __m128i cd0 = _mm_unpacklo_epi8(c, d), cd1 = _mm_unpackhi_epi8(c, d);
        Store(out + 4 * k, _mm_unpacklo_epi16(ab0, cd0));
        Store(out + 4 * k + 16, _mm_unpackhi_epi16(ab0, cd0));
        Store(out + 4 * k + 32, _mm_unpacklo_epi16(ab1, cd1));
        Store(out + 4 * k + 48, _mm_unpackhi_epi16(ab1, cd1));
    }
    return k;
}
#endif

}  // namespace

void InterleavePlanes(const uint8_t* const* planes, size_t count, size_t frames, uint8_t fill, uint8_t* out) {
    size_t done = 0;
#if KW_INTERLEAVE_SSE2
    bool allPresent = true;
    for (size_t i = 0; i < count; ++i) allPresent = allPresent && planes[i] != nullptr;
    if (allPresent && count == 2) {
        done = Interleave2(planes[0], planes[1], frames, out);
    } else if (allPresent && count == 4) {
        done = Interleave4(planes, frames, out);
    }
#endif
    // The rest frame by frame, so that the output is written in order.
    for (size_t k = done; k < frames; ++k) {
        uint8_t* frame = out + k * count;
        for (size_t i = 0; i < count; ++i) frame[i] = planes[i] ? planes[i][k] : fill;
    }
}
