// AVX2 kernel of the decimator's window load, compiled for AVX2 function by function
// (the rest of the program keeps the baseline instruction set) and called
// only when the processor has AVX2.
#include "pcm/Dsd2PcmKernels.h"

#include "pcm/PcmKernels.h"

#if KW_PCM_AVX2
#include <immintrin.h>

#define KW_AVX2 __attribute__((target("avx2")))

namespace {

// Reverses the bits of every byte with two nibble lookups.
KW_AVX2 inline __m256i ReverseBytes(__m256i x) {
    const __m256i reversedNibble =
        _mm256_setr_epi8(0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF, 0x0, 0x8,
                         0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF);
    const __m256i low = _mm256_and_si256(x, _mm256_set1_epi8(0x0F));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), _mm256_set1_epi8(0x0F));
    // The reversed low nibble becomes the high one and vice versa.
    return _mm256_or_si256(_mm256_slli_epi16(_mm256_shuffle_epi8(reversedNibble, low), 4),
                           _mm256_shuffle_epi8(reversedNibble, high));
}

}  // namespace

KW_AVX2 size_t dsd2pcm_split_avx2(const uint8_t* src, uint8_t* plain, uint8_t* older, size_t n,
                                  bool reversePlain) {
    size_t j = 0;
    for (; j + 32 <= n; j += 32) {
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + j));
        const __m256i r = ReverseBytes(b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(plain + j), reversePlain ? r : b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(older + j), reversePlain ? b : r);
    }
    return j;
}

#else

size_t dsd2pcm_split_avx2(const uint8_t*, uint8_t*, uint8_t*, size_t, bool) { return 0; }

#endif
