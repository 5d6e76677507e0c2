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
// decoded so far. The sums over the older bytes (all but the latest) are
// found a byte ahead, so their table loads overlap the decoding of the
// previous byte.
//
// Where the time goes: the arithmetic decoder is one serial chain (each
// symbol needs the range left by the one before), so everything else is
// kept off it. With two or more channels the other channels' symbols lie
// between two bits of one channel, so that channel's probability is looked
// up once its previous bit is known; with one channel the previous bit only
// flips the sign of one term, and both candidate probabilities are looked
// up before it is known and chosen by a select.

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

// The probability for every prediction value P from -kDstProbLutSize / 2 to
// kDstProbLutSize / 2 - 1 (entry P + kDstProbLutSize / 2); beyond that range
// |P| >> 3 is past the table's end anyway.
void BuildProbLut(const int32_t* table, uint8_t* lut) {
    for (int32_t i = 0; i < kDstProbLutSize; ++i) {
        const int32_t P = i - kDstProbLutSize / 2;
        int32_t j = (P < 0 ? -P : P) >> 3;
        j = j < kDstMaxTableLength - 1 ? j : kDstMaxTableLength - 1;
        lut[i] = static_cast<uint8_t>(table[j]);
    }
}

inline uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof(v));
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

// The frame bytes as big-endian 64-bit words at any byte offset; bytes past
// the frame end read as 0. Offsets whose word lies wholly inside the frame are
// read in place, the last few through a zero-padded copy of the frame's tail.
struct FrameWords {
    const uint8_t* data;
    int64_t lastDirect;  // highest offset read in place (-1: none)
    int64_t tailStart;   // frame offset of tail[0]
    uint8_t tail[32];    // the frame's last bytes (at most 8), then zeros

    void Init(const uint8_t* bytes, int64_t size) {
        data = bytes;
        lastDirect = size - 8;
        tailStart = size > 8 ? size - 8 : 0;
        std::memset(tail, 0, sizeof(tail));
        if (size > tailStart) std::memcpy(tail, bytes + tailStart, static_cast<size_t>(size - tailStart));
    }

    inline uint64_t At(int64_t offset) const {
        if (offset <= lastDirect) [[likely]] {
            return LoadBigEndian64(data + offset);
        }
        int64_t t = offset - tailStart;
        t = t < 24 ? t : 24;
        return LoadBigEndian64(tail + t);
    }
};

// The arithmetic decoder. W holds the coder's 12-bit value V in its top
// bits and below it the stream bits that follow (`low` of them valid), so
// "V >= h" is "W >= h << 52", and renormalising V by s bits is shifting W
// left by s. Renormalisation never shifts by more than 8 bits: both parts of
// A are always at least 8 (A is at least 2048 and p 1 … 128), so W is
// refilled whenever fewer than 8 valid bits are left below V.
struct Coder {
    uint32_t A;
    uint64_t W;
    int32_t low;  // valid stream bits below V
    int64_t end;  // frame bit after the last valid bit of W

    // Refills the bits below V from the frame.
    inline void Refill(const FrameWords& words) {
        const int64_t pos = end - low;
        const uint64_t raw = words.At(pos >> 3) << (pos & 7);
        W = (W & ~((uint64_t{1} << 52) - 1)) | (raw >> 12);
        low = 52 - static_cast<int32_t>(pos & 7);
        end = pos + low;
    }

    // Takes V (12 bits) from stream bit `start` on.
    inline void Start(const FrameWords& words, int64_t start) {
        W = (words.At(start >> 3) << (start & 7)) & ~((uint64_t{1} << 52) - 1);
        end = start + 12;
        low = 0;
        Refill(words);
    }

    // Bits taken from the frame so far: the end of V.
    inline int64_t End() const { return end - low; }

    // Returns 0 (V in the lower part, of size A - a) or 1.
    inline __attribute__((always_inline)) uint32_t Decode(uint32_t p, const FrameWords& words) {
        const uint32_t a = ((A >> 8) | ((A >> 7) & 1)) * p;
        const uint32_t h = A - a;
        const uint64_t H = static_cast<uint64_t>(h) << 52;
        uint32_t bit;
        int32_t shift;
        // A branch: the processor runs ahead on the predicted outcome, which
        // is right as often as the model predicts well; a select would put
        // the comparison on the path of every symbol.
        if (W >= H) {
            // The less probable part a (p is at most 1/2): 8 ≤ a < 2048,
            // | 1 spares the count a zero check.
            W -= H;
            shift = std::countl_zero(a | 1u) - 20;
            A = a << shift;
            bit = 0;
        } else {
            // The more probable part h: 1024 ≤ h < 4096, one bit at most.
            shift = static_cast<int32_t>((h >> 11) ^ 1u);
            A = h << shift;
            bit = 1;
        }
        W <<= shift;
        low -= shift;
        if (low < 8) [[unlikely]] {
            Refill(words);
        }
        return bit;
    }
};

// End (a bit position, a multiple of 8) of segment sg of channel c, which starts at start.
int64_t SegmentEnd(const DstSegmentation& seg, int32_t c, int32_t sg, int64_t start, int32_t N) {
    if (sg >= seg.segmentCount[c] - 1) return N;
    const int64_t end = start + static_cast<int64_t>(seg.resolution) * 8 * seg.segmentLength[c][sg];
    return end > N ? N : end;
}

struct Channel {
    uint32_t last;               // the byte before the current one (history bits 0 … 7)
    const int16_t* phase;        // phase tables of the filter in force
    const int16_t* cur;          // its current-byte table
    const uint8_t* prob;         // probability lookup in force
    int32_t half;                // bits decoded with probability 128
    alignas(16) int16_t old[8];  // per phase: the taps on bits before the byte
};

// Sum over history groups 1 … G - 1, the taps that reach back more than
// eight bits before the byte's start; group g is the byte b[-g], b pointing
// at the byte just before the byte's start (group 0).
template <int32_t G>
inline __m128i OlderBytes(const int16_t* t, const uint8_t* b) {
    auto entry = [&](int32_t g) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + (g * 256 + b[-g]) * 8));
    };
    __m128i sum = _mm_add_epi16(entry(1), entry(2));
    sum = _mm_add_epi16(sum, _mm_add_epi16(entry(3), entry(4)));
    sum = _mm_add_epi16(sum, _mm_add_epi16(entry(5), entry(6)));
    sum = _mm_add_epi16(sum, entry(7));
    if constexpr (G > 8) {
        __m128i more = _mm_add_epi16(entry(8), entry(9));
        more = _mm_add_epi16(more, _mm_add_epi16(entry(10), entry(11)));
        more = _mm_add_epi16(more, _mm_add_epi16(entry(12), entry(13)));
        more = _mm_add_epi16(more, _mm_add_epi16(entry(14), entry(15)));
        sum = _mm_add_epi16(sum, more);
    }
    return sum;
}

// Sets old[] for the byte starting now from the older bytes' sum (found a
// byte ahead, so that its table loads overlap the previous byte's decoding)
// and the byte just decoded.
inline void StartByte(Channel& ch, __m128i older) {
    // Bit 0 of the history (the bit just decoded) enters as -coef and is
    // corrected below, so the load need not wait for it.
    const int16_t* t = ch.phase;
    const uint32_t l = ch.last;
    __m128i sum = _mm_add_epi16(older, _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 8 * (l & 0xFE))));
    // Lanes of entry 1 minus entry 0 of group 0: twice the taps on bit 0.
    const __m128i one = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 8)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    const __m128i set = _mm_set1_epi16(static_cast<int16_t>(0 - static_cast<int32_t>(l & 1)));
    sum = _mm_add_epi16(sum, _mm_and_si128(one, set));
    _mm_store_si128(reinterpret_cast<__m128i*>(ch.old), sum);
}

// The probability lookup's entry for prediction value P (taken as int16).
// Values below the range wrap to the top entry, which holds the same
// probability as the bottom one: only the sign differs, and it is taken
// from P itself.
inline uint32_t LutIndex(int32_t P) {
    const uint32_t i = static_cast<uint32_t>(static_cast<int16_t>(P) + kDstProbLutSize / 2);
    return i < kDstProbLutSize - 1 ? i : kDstProbLutSize - 1;
}

// 1 when P (taken as int16) is negative.
inline uint32_t SignOf(int32_t P) { return static_cast<uint32_t>(static_cast<int16_t>(P)) >> 31; }

// Bit q of the current byte of one channel, h its state, r its previous
// bit and acc 1 followed by the byte's bits before the previous one. At
// phase 0 old[0] already holds the previous bit (acc is 0 and both
// candidates are equal). Single: one lookup after the previous bit is known
// (several channels); otherwise both candidates before it (one channel).
template <int32_t q, bool Warm, bool Single>
inline __attribute__((always_inline)) void DecodeBit(Coder& coder, const FrameWords& words, const Channel& h,
                                                     uint32_t& r, uint32_t& acc, int32_t n0) {
    uint32_t p, sign;
    if constexpr (Single) {
        acc = q == 0 ? 1u : (acc << 1) | r;
        const int32_t P = h.old[q] + h.cur[q == 0 ? 0 : acc];
        p = h.prob[LutIndex(P)];
        sign = SignOf(P);
    } else {
        const int32_t P0 = h.old[q] + h.cur[acc << 1];
        const int32_t P1 = h.old[q] + h.cur[(acc << 1) | 1];
        const uint32_t p0 = h.prob[LutIndex(P0)], p1 = h.prob[LutIndex(P1)];
        p = r ? p1 : p0;
        sign = r ? SignOf(P1) : SignOf(P0);
        acc = q == 0 ? 1u : (acc << 1) | r;
    }
    if constexpr (Warm) {
        if (n0 + q < h.half) p = 128;
    }
    r = coder.Decode(p, words) ^ sign;
}

// All channels' bits of one byte in the coded order: bit by bit, each bit
// for every channel in turn. The state lives in separate local arrays of
// the caller so that the compiler keeps r and acc in registers.
template <int32_t C, bool Warm, int32_t... Q>
inline __attribute__((always_inline)) void DecodeRow(Coder& coder, const FrameWords& words, const Channel* ch,
                                                     uint32_t* r, uint32_t* acc, int32_t n0,
                                                     std::integer_sequence<int32_t, Q...>) {
    auto phase = [&]<int32_t q, int32_t... I>(std::integral_constant<int32_t, q>,
                                              std::integer_sequence<int32_t, I...>) __attribute__((always_inline)) {
        (DecodeBit<q, Warm, (C > 1)>(coder, words, ch[I], r[I], acc[I], n0), ...);
    };
    (phase(std::integral_constant<int32_t, Q>{}, std::make_integer_sequence<int32_t, C>{}), ...);
}

template <int32_t C, int32_t G>
int32_t DecodeBitsFor(DstFrameDecoder* s, const uint8_t* input, uint8_t* output) {
    const int32_t N = s->bitsPerChannel;
    Coder coder;
    FrameWords words;
    Channel ch[C];
    uint32_t r[C];
    uint32_t acc[C];
    __m128i older[C];
    // Decoded bytes per channel after 16 bytes of the start history 0xAA.
    uint8_t* hist[C];
    for (int32_t c = 0; c < C; ++c) {
        hist[c] = s->history + static_cast<size_t>(c) * (kDstFilterGroups + s->bytesPerChannel) + kDstFilterGroups;
        std::memset(hist[c] - kDstFilterGroups, 0xAA, kDstFilterGroups);
    }
    words.Init(input, s->frameBytes);
    // The first arithmetic bit is not used; V is the 12 bits after it.
    coder.Start(words, s->arithStart + 1);
    coder.A = 4095;

    // The first decode primes the coder; its result is not used.
    {
        const uint32_t c0 = static_cast<uint32_t>(s->filterCoef[0]) & 0x7F;
        uint32_t rev = 0;
        for (int32_t i = 0; i < 7; ++i) rev |= ((c0 >> i) & 1) << (6 - i);
        coder.Decode(rev + 1, words);
    }

    // Segment in force per channel, for the filters and the tables, and its end.
    int32_t fSeg[C], tSeg[C];
    int64_t fEnd[C], tEnd[C];
    int32_t warm = 0;
    for (int32_t c = 0; c < C; ++c) {
        ch[c].last = 0xAA;
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
        for (int32_t c = 0; c < C; ++c) {
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
            ch[c].prob = s->probLut + s->tableSeg.tableNumber[c][tSeg[c]] * kDstProbLutSize;
            end = fEnd[c] < end ? fEnd[c] : end;
            end = tEnd[c] < end ? tEnd[c] : end;
            older[c] = OlderBytes<G>(ch[c].phase, hist[c] + (n >> 3) - 1);
        }
        for (; n < end; n += 8) {
            for (int32_t c = 0; c < C; ++c) {
                StartByte(ch[c], older[c]);
                // The next byte's older groups are this byte's history.
                older[c] = OlderBytes<G>(ch[c].phase, hist[c] + (n >> 3));
                r[c] = ch[c].last & 1;
                acc[c] = 0;
            }
            if (n < warm) [[unlikely]] {
                DecodeRow<C, true>(coder, words, ch, r, acc, n, std::make_integer_sequence<int32_t, 8>{});
            } else {
                DecodeRow<C, false>(coder, words, ch, r, acc, n, std::make_integer_sequence<int32_t, 8>{});
            }
            uint8_t* o = output + static_cast<size_t>(n >> 3) * C;
            for (int32_t c = 0; c < C; ++c) {
                const auto b = static_cast<uint8_t>((acc[c] << 1) | r[c]);
                o[c] = b;
                hist[c][n >> 3] = b;
                ch[c].last = b;
            }
        }
    }
    // Bits the coder took after the start of the arithmetic part.
    const int64_t readIndex = coder.End() - s->arithStart;
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
    for (int32_t t = 0; t < s->tableCount; ++t) {
        BuildProbLut(s->probTables + t * kDstMaxTableLength, s->probLut + t * kDstProbLutSize);
    }
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
