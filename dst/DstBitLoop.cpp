#include "dst/DstBitLoop.h"

#include <emmintrin.h>

#include <bit>
#include <cstring>
#include <utility>

// How the prediction is evaluated. The predicted value of bit n is
//   P(n) = sum over taps k = 1 … order of coef[k - 1] × (s(n - k) ? +1 : -1)
// taken modulo 2^16 (as int16). Bits are decoded a byte (eight bits) at a
// time per channel. At the start of a byte every tap that reaches back past
// the byte's start sees a bit already known, so for all eight bit phases q
// those parts are summed at once: byte g of the history (bits n0 - 8g - 1 …
// n0 - 8g - 8) adds, in lane q, sum over i of ±coef[8g + i + q]. The phase
// tables hold these eight lanes per history byte value, so one 16-byte load
// and one vector add per history byte serve the whole byte. The taps that see
// bits of the current byte (k <= q) come from one table indexed by the bits
// decoded so far. Within a byte the previous bit only flips the sign of one
// term, so both candidate probabilities are looked up before that bit is
// known and chosen without a branch when it is.

namespace {

// Lane q of coefficient vector (g, i): coef[8g + i + q], 0 past the order.
void BuildFilter(const int16_t* coef, int32_t order, int16_t* lut) {
    for (int32_t g = 0; g < kDstFilterGroups; ++g) {
        int16_t* e = lut + g * 256 * 8;
        if (8 * g >= order) {
            std::memset(e, 0, 256 * 8 * sizeof(int16_t));
            continue;
        }
        __m128i tap[8];
        __m128i base = _mm_setzero_si128();
        for (int32_t i = 0; i < 8; ++i) {
            alignas(16) int16_t lanes[8];
            for (int32_t q = 0; q < 8; ++q) {
                const int32_t k = 8 * g + i + q;
                lanes[q] = k < order ? coef[k] : 0;
            }
            tap[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
            base = _mm_sub_epi16(base, tap[i]);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(e), base);
        for (int32_t v = 1; v < 256; ++v) {
            const int32_t j = std::countr_zero(static_cast<unsigned>(v));
            const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + 8 * (v & (v - 1))));
            const __m128i twice = _mm_add_epi16(tap[j], tap[j]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(e + 8 * v), _mm_add_epi16(prev, twice));
        }
    }
    // Current byte: entry (1 << q) | bits, bit 0 the latest of the q bits
    // (entries 0 and 1: no bits).
    int16_t* cur = lut + kDstPhaseTable;
    cur[0] = 0;
    for (int32_t h = 1; h < 256; ++h) {
        const int32_t q = 31 - std::countl_zero(static_cast<unsigned>(h));
        int32_t sum = 0;
        for (int32_t i = 0; i < q; ++i) {
            const int32_t c = i < order ? coef[i] : 0;
            sum += ((h >> i) & 1) ? c : -c;
        }
        cur[h] = static_cast<int16_t>(sum);
    }
}

// Bits of the arithmetic-coded part, read from the frame bytes; bits past
// the frame end read as 0.
struct ArithBits {
    const uint8_t* data;
    int64_t nextByte;
    int64_t endByte;
    uint64_t cache;
    int32_t cacheBits;

    inline uint32_t Take(int32_t n) {
        if (cacheBits < n) {
            do {
                cache = (cache << 8) | (nextByte < endByte ? data[nextByte] : 0u);
                ++nextByte;
                cacheBits += 8;
            } while (cacheBits < 56);
        }
        cacheBits -= n;
        return static_cast<uint32_t>(cache >> cacheBits) & ((1u << n) - 1);
    }
};

struct Coder {
    ArithBits bits;
    uint32_t A = 4095;
    uint32_t V = 0;

    // Returns 0 (V in the lower part, of size A - a) or 1.
    inline uint32_t Decode(uint32_t p) {
        const uint32_t a = ((A >> 8) | ((A >> 7) & 1)) * p;
        const uint32_t h = A - a;
        const uint32_t upper = V >= h ? 1u : 0u;
        const uint32_t mask = 0u - upper;
        V -= h & mask;
        A = h ^ ((a ^ h) & mask);
        const int32_t shift = std::countl_zero(A) - 20;
        A <<= shift;
        V = (V << shift) | bits.Take(shift);
        return upper ^ 1u;
    }
};

// End (a bit position, a multiple of 8) of segment sg of channel c, which starts at start.
int64_t SegmentEnd(const DstSegmentation& seg, int32_t c, int32_t sg, int64_t start, int32_t N) {
    if (sg >= seg.segmentCount[c] - 1) return N;
    const int64_t end = start + static_cast<int64_t>(seg.resolution) * 8 * seg.segmentLength[c][sg];
    return end > N ? N : end;
}

struct Channel {
    uint64_t lo, hi;             // history at the byte start: bit j is s(n0 - 1 - j)
    const int16_t* phase;        // phase tables of the filter in force
    const int16_t* cur;          // its current-byte table
    const int32_t* row;          // probability table in force
    int32_t half;                // bits decoded with probability 128
    alignas(16) int16_t old[8];  // per phase: the taps on bits before the byte
};

inline uint32_t Probability(const int32_t* row, int32_t P) {
    const int16_t p16 = static_cast<int16_t>(P);
    int32_t j = (p16 < 0 ? -static_cast<int32_t>(p16) : p16) >> 3;
    j = j < kDstMaxTableLength - 1 ? j : kDstMaxTableLength - 1;
    return static_cast<uint32_t>(row[j]);
}

template <int32_t G>
inline void StartByte(Channel& ch) {
    // Bit 0 of the history (the bit just decoded) enters as -coef and is
    // corrected below, so the loads need not wait for it.
    const int16_t* t = ch.phase;
    const uint64_t l = ch.lo;
    __m128i sum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 8 * (l & 0xFE)));
    for (int32_t g = 1; g < 8; ++g) {
        sum = _mm_add_epi16(
            sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + (g * 256 + ((l >> (8 * g)) & 0xFF)) * 8)));
    }
    if constexpr (G > 8) {
        const uint64_t h = ch.hi;
        for (int32_t g = 0; g < 8; ++g) {
            sum = _mm_add_epi16(sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                         t + ((8 + g) * 256 + ((h >> (8 * g)) & 0xFF)) * 8)));
        }
    }
    // Lanes of entry 1 minus entry 0 of group 0: twice the taps on bit 0.
    const __m128i one = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 8)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    const __m128i set = _mm_set1_epi16(static_cast<int16_t>(0 - static_cast<int32_t>(l & 1)));
    sum = _mm_add_epi16(sum, _mm_and_si128(one, set));
    _mm_store_si128(reinterpret_cast<__m128i*>(ch.old), sum);
}

// The decoding state of one frame; C: channel count when fixed (0: s->channels).
template <int32_t C>
struct BitLoop {
    Coder coder;
    int32_t channels;
    Channel ch[kDstMaxChannels];
    uint32_t r[kDstMaxChannels];    // each channel's previous bit
    uint32_t acc[kDstMaxChannels];  // 1 followed by the byte's bits before the previous one

    // Bit q of the current byte of channel c. At phase 0 old[0] already
    // holds the previous bit (acc is 0 and both candidates are equal).
    template <int32_t q, bool Warm>
    inline __attribute__((always_inline)) void Bit(int32_t c, int32_t n0) {
        const Channel& h = ch[c];
        const int32_t P0 = h.old[q] + h.cur[acc[c] << 1];
        const int32_t P1 = h.old[q] + h.cur[(acc[c] << 1) | 1];
        const uint32_t p0 = Probability(h.row, P0), p1 = Probability(h.row, P1);
        const uint32_t sel = 0u - r[c];
        uint32_t p = p0 ^ ((p0 ^ p1) & sel);
        const uint32_t sign = (static_cast<uint32_t>(P0 ^ ((P0 ^ P1) & static_cast<int32_t>(sel))) >> 15) & 1;
        if constexpr (Warm) {
            if (n0 + q < h.half) p = 128;
        }
        acc[c] = q == 0 ? 1u : (acc[c] << 1) | r[c];
        r[c] = coder.Decode(p) ^ sign;
    }

    template <int32_t q, bool Warm, int32_t... I>
    inline __attribute__((always_inline)) void Phase(int32_t n0, std::integer_sequence<int32_t, I...>) {
        if constexpr (C > 0) {
            (Bit<q, Warm>(I, n0), ...);
        } else {
            for (int32_t c = 0; c < channels; ++c) Bit<q, Warm>(c, n0);
        }
    }

    // All channels' bits of one byte in the coded order: bit by bit, each bit
    // for every channel in turn.
    template <bool Warm, int32_t... Q>
    inline void Row(int32_t n0, std::integer_sequence<int32_t, Q...>) {
        (Phase<Q, Warm>(n0, std::make_integer_sequence<int32_t, (C > 0 ? C : 1)>{}), ...);
    }
};

template <int32_t C, int32_t G>
int32_t DecodeBitsFor(DstFrameDecoder* s, const uint8_t* input, uint8_t* output) {
    const int32_t N = s->bitsPerChannel;
    BitLoop<C> loop;
    loop.channels = C > 0 ? C : s->channels;
    const int32_t channels = loop.channels;
    Coder& coder = loop.coder;
    Channel* ch = loop.ch;
    ArithBits& bits = coder.bits;
    bits.data = input;
    bits.nextByte = s->arithStart >> 3;
    bits.endByte = s->frameBytes;
    bits.cache = 0;
    bits.cacheBits = 0;
    const int32_t skip = static_cast<int32_t>(s->arithStart & 7);
    if (skip) bits.Take(skip);
    bits.Take(1);  // index 0 is not used
    coder.V = bits.Take(12);

    // The first decode primes the coder; its result is not used.
    {
        const uint32_t c0 = static_cast<uint32_t>(s->filterCoef[0]) & 0x7F;
        uint32_t rev = 0;
        for (int32_t i = 0; i < 7; ++i) rev |= ((c0 >> i) & 1) << (6 - i);
        coder.Decode(rev + 1);
    }

    // Segment in force per channel, for the filters and the tables, and its end.
    int32_t fSeg[kDstMaxChannels], tSeg[kDstMaxChannels];
    int64_t fEnd[kDstMaxChannels], tEnd[kDstMaxChannels];
    int32_t warm = 0;
    for (int32_t c = 0; c < channels; ++c) {
        ch[c].lo = ch[c].hi = 0xAAAAAAAAAAAAAAAAull;
        ch[c].half = s->halfProb[c] ? s->halfProbBits[c] : 0;
        warm = ch[c].half > warm ? ch[c].half : warm;
        fSeg[c] = tSeg[c] = 0;
        fEnd[c] = SegmentEnd(s->filterSeg, c, 0, 0, N);
        tEnd[c] = SegmentEnd(s->tableSeg, c, 0, 0, N);
    }

    int32_t n = 0;
    while (n < N) {
        // The filters and tables change only at segment boundaries (whole
        // bytes): find the run of bytes up to the next one in any channel.
        int64_t end = N;
        for (int32_t c = 0; c < channels; ++c) {
            while (fEnd[c] <= n) {
                ++fSeg[c];
                fEnd[c] = SegmentEnd(s->filterSeg, c, fSeg[c], fEnd[c], N);
            }
            while (tEnd[c] <= n) {
                ++tSeg[c];
                tEnd[c] = SegmentEnd(s->tableSeg, c, tSeg[c], tEnd[c], N);
            }
            const int16_t* lut = s->filterLut + s->filterSeg.tableNumber[c][fSeg[c]] * kDstFilterLutStride;
            ch[c].phase = lut;
            ch[c].cur = lut + kDstPhaseTable;
            ch[c].row = s->probTables + s->tableSeg.tableNumber[c][tSeg[c]] * kDstMaxTableLength;
            end = fEnd[c] < end ? fEnd[c] : end;
            end = tEnd[c] < end ? tEnd[c] : end;
        }
        for (; n < end; n += 8) {
            for (int32_t c = 0; c < channels; ++c) {
                StartByte<G>(ch[c]);
                loop.r[c] = static_cast<uint32_t>(ch[c].lo & 1);
                loop.acc[c] = 0;
            }
            if (n < warm) {
                loop.template Row<true>(n, std::make_integer_sequence<int32_t, 8>{});
            } else {
                loop.template Row<false>(n, std::make_integer_sequence<int32_t, 8>{});
            }
            uint8_t* o = output + static_cast<size_t>(n >> 3) * channels;
            for (int32_t c = 0; c < channels; ++c) {
                const auto b = static_cast<uint8_t>((loop.acc[c] << 1) | loop.r[c]);
                o[c] = b;
                ch[c].hi = (ch[c].hi << 8) | (ch[c].lo >> 56);
                ch[c].lo = (ch[c].lo << 8) | b;
            }
        }
    }
    const int64_t readIndex = (bits.nextByte - (s->arithStart >> 3)) * 8 - skip - bits.cacheBits;
    if (readIndex < s->arithBits - 7) return kDstErrArithUnderrun;
    return kDstOk;
}

}  // namespace

void DstBuildFilterTables(DstFrameDecoder* s) {
    for (int32_t f = 0; f < s->filterCount; ++f) {
        BuildFilter(s->filterCoef + f * kDstMaxOrder, s->predictionOrder[f], s->filterLut + f * kDstFilterLutStride);
    }
}

int32_t DstDecodeBits(DstFrameDecoder* s, const uint8_t* input, uint8_t* output) {
    int32_t maxOrder = 0;
    for (int32_t f = 0; f < s->filterCount; ++f) {
        maxOrder = s->predictionOrder[f] > maxOrder ? s->predictionOrder[f] : maxOrder;
    }
    // Filters of order 64 or less leave history bytes 8 … 15 unused.
    const bool wide = maxOrder > 64;
    switch (s->channels) {
    case 1: return wide ? DecodeBitsFor<1, 16>(s, input, output) : DecodeBitsFor<1, 8>(s, input, output);
    case 2: return wide ? DecodeBitsFor<2, 16>(s, input, output) : DecodeBitsFor<2, 8>(s, input, output);
    case 3: return wide ? DecodeBitsFor<3, 16>(s, input, output) : DecodeBitsFor<3, 8>(s, input, output);
    case 4: return wide ? DecodeBitsFor<4, 16>(s, input, output) : DecodeBitsFor<4, 8>(s, input, output);
    case 5: return wide ? DecodeBitsFor<5, 16>(s, input, output) : DecodeBitsFor<5, 8>(s, input, output);
    case 6: return wide ? DecodeBitsFor<6, 16>(s, input, output) : DecodeBitsFor<6, 8>(s, input, output);
    default: return kDstErrReadPastEnd;
    }
}
