#include "pcm/Dsd2PcmKernels.h"

#include "pcm/IIRPairKernel.h"  // KW_PCM_SSE2

#if KW_PCM_SSE2

// Reverses the bits of every byte: swap the nibbles, then the bit pairs, then
// neighbouring bits. SSE2 has no byte shifts, so 16-bit shifts are masked.
static inline __m128i ReverseBytes(__m128i x) {
    const __m128i n0f = _mm_set1_epi8(0x0F), n33 = _mm_set1_epi8(0x33), n55 = _mm_set1_epi8(0x55);
    x = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 4), n0f), _mm_slli_epi16(_mm_and_si128(x, n0f), 4));
    x = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 2), n33), _mm_slli_epi16(_mm_and_si128(x, n33), 2));
    x = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 1), n55), _mm_slli_epi16(_mm_and_si128(x, n55), 1));
    return x;
}

size_t dsd2pcm_split_sse2(const uint8_t* src, uint8_t* plain, uint8_t* older, size_t n, bool reversePlain) {
    size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j));
        const __m128i r = ReverseBytes(b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(plain + j), reversePlain ? r : b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(older + j), reversePlain ? b : r);
    }
    return j;
}

size_t dsd2pcm_split2_sse2(const uint8_t* src, uint8_t* plain, uint8_t* older, size_t n, bool reversePlain) {
    // Sixteen bytes from 32: the even ones. The last load ends one byte past
    // the last byte it uses, so it must stay before the channel's last byte.
    const __m128i even = _mm_set1_epi16(0x00FF);
    size_t j = 0;
    for (; j + 17 <= n; j += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * j));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * j + 16));
        const __m128i bytes = _mm_packus_epi16(_mm_and_si128(a, even), _mm_and_si128(b, even));
        const __m128i r = ReverseBytes(bytes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(plain + j), reversePlain ? r : bytes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(older + j), reversePlain ? bytes : r);
    }
    return j;
}

#else

size_t dsd2pcm_split_sse2(const uint8_t*, uint8_t*, uint8_t*, size_t, bool) { return 0; }
size_t dsd2pcm_split2_sse2(const uint8_t*, uint8_t*, uint8_t*, size_t, bool) { return 0; }

#endif
