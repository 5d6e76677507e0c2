// Two low-pass filters of the same section count run side by side on the two
// lanes of an SSE2 register. Every lane performs exactly the operations of
// CIIRFilter::Process in the same order, and SSE2 arithmetic rounds exactly as
// scalar arithmetic does, so the results are identical to the scalar path.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "pcm/IIRFilter.h"
#include "pcm/IIRPairAvx2.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KW_PCM_SSE2 1
#else
#define KW_PCM_SSE2 0
#endif

#if KW_PCM_SSE2

// Low-pass sections designed from an all-pole prototype always have the
// numerator 1 + 2 z^-1 + z^-2: ff1 = 2 and ff2 = 1 exactly. For those,
// ff1 * w1 is computed as w1 + w1 and ff2 * w2 as w2, which are the same
// values bit for bit (doubling is exact and overflows exactly when the product
// does; multiplying by 1 changes nothing).
template <unsigned N>
bool HasLowPassNumerators(const CIIRFilter& a, const CIIRFilter& b) {
    for (unsigned k = 0; k < N; ++k) {
        for (const CIIRFilter* f : {&a, &b}) {
            const double* c = f->Coefficients(k);
            if (c[CIIRFilter::kFf1] != 2.0 || c[CIIRFilter::kFf2] != 1.0) {
                return false;
            }
        }
    }
    return true;
}

// N sections (2 or 4). `LowPass`: the numerators are known to be
// 1 + 2 z^-1 + z^-2 (checked by the caller with HasLowPassNumerators).
template <unsigned N, bool LowPass = false>
class IIRPairKernel {
    static_assert(N == 2 || N == 4, "two or four sections");

public:
    // Takes the coefficients and state of a (lane 0) and b (lane 1).
    IIRPairKernel(const CIIRFilter& a, const CIIRFilter& b) {
        for (unsigned k = 0; k < N; ++k) {
            const double* ca = a.Coefficients(k);
            const double* cb = b.Coefficients(k);
            c_[k].fb1 = _mm_set_pd(cb[CIIRFilter::kFb1], ca[CIIRFilter::kFb1]);
            c_[k].fb2 = _mm_set_pd(cb[CIIRFilter::kFb2], ca[CIIRFilter::kFb2]);
            c_[k].ff1 = _mm_set_pd(cb[CIIRFilter::kFf1], ca[CIIRFilter::kFf1]);
            c_[k].ff2 = _mm_set_pd(cb[CIIRFilter::kFf2], ca[CIIRFilter::kFf2]);
            for (unsigned i = 0; i < 2; ++i) {
                w_[k][i] = _mm_set_pd(b.State(k)[i], a.State(k)[i]);
            }
        }
        gain_ = _mm_set_pd(b.OverallGain(), a.OverallGain());
    }

    // Writes the state back into the filters.
    void Store(CIIRFilter& a, CIIRFilter& b) const {
        for (unsigned k = 0; k < N; ++k) {
            for (unsigned i = 0; i < 2; ++i) {
                _mm_storel_pd(&a.StateTable()[k][i], w_[k][i]);
                _mm_storeh_pd(&b.StateTable()[k][i], w_[k][i]);
            }
        }
    }

    // Coefficients and state for the AVX2 kernel, and its state back.
    void ExportLanes(IIRPairLanes& l) const {
        l.sections = N;
        l.lowPass = LowPass;
        _mm_storeu_pd(l.gain, gain_);
        for (unsigned k = 0; k < N; ++k) {
            _mm_storeu_pd(l.fb1[k], c_[k].fb1);
            _mm_storeu_pd(l.fb2[k], c_[k].fb2);
            _mm_storeu_pd(l.ff1[k], c_[k].ff1);
            _mm_storeu_pd(l.ff2[k], c_[k].ff2);
            _mm_storeu_pd(l.w1[k], w_[k][0]);
            _mm_storeu_pd(l.w2[k], w_[k][1]);
        }
    }
    void ImportState(const IIRPairLanes& l) {
        for (unsigned k = 0; k < N; ++k) {
            w_[k][0] = _mm_loadu_pd(l.w1[k]);
            w_[k][1] = _mm_loadu_pd(l.w2[k]);
        }
    }

    // Exact: m frames in place, lane 0 at data[j * stride], lane 1 next to it.
    void Run(double* data, size_t stride, size_t m) {
        Run(
            m, [&](size_t j) { return _mm_loadu_pd(data + j * stride); },
            [&](size_t j, __m128d y) { _mm_storeu_pd(data + j * stride, y); });
    }

    // Exact, with input(j) giving frame j's samples and output(j, y) taking the results.
    template <class Input, class Output>
    void Run(size_t m, Input&& input, Output&& output) {
        State s(w_);
        __m128i unused = _mm_setzero_si128();
        for (size_t j = 0; j < m; ++j) {
            __m128d y = _mm_mul_pd(input(j), gain_);
            y = Step<true>(y, c_[0], s.a1, s.a2, unused);
            y = Step<true>(y, c_[1], s.b1, s.b2, unused);
            if constexpr (N == 4) {
                y = Step<true>(y, c_[2], s.c1, s.c2, unused);
                y = Step<true>(y, c_[3], s.d1, s.d2, unused);
            }
            output(j, y);
        }
        s.Save(w_);
    }

    // The same without the flush to zero over m frames: input(j) gives frame
    // j's two samples, output(j, y) takes its results. True when no value
    // occurred that the flush would have replaced: then every result and the
    // new state equal those of Run. (On false the state is of no use; the
    // caller keeps a copy.) The flush's compare is off the dependency chain,
    // and the sections are skewed: in one step section k works on frame j - k,
    // so the sections' chains run side by side instead of one frame's chain
    // through all sections holding up the next frame. Each section still sees
    // its frames in order.
    template <class Input, class Output>
    bool RunUnflushed(size_t m, Input&& input, Output&& output) {
        State s(w_);
        __m128i tiny = _mm_setzero_si128();
        const auto in = [&](size_t j) { return _mm_mul_pd(input(j), gain_); };
        if (m < N) {
            for (size_t j = 0; j < m; ++j) {
                __m128d y = in(j);
                y = Step<false>(y, c_[0], s.a1, s.a2, tiny);
                y = Step<false>(y, c_[1], s.b1, s.b2, tiny);
                if constexpr (N == 4) {
                    y = Step<false>(y, c_[2], s.c1, s.c2, tiny);
                    y = Step<false>(y, c_[3], s.d1, s.d2, tiny);
                }
                output(j, y);
            }
        } else if constexpr (N == 2) {
            __m128d y1 = Step<false>(in(0), c_[0], s.a1, s.a2, tiny);
            for (size_t j = 1; j < m; ++j) {
                output(j - 1, Step<false>(y1, c_[1], s.b1, s.b2, tiny));
                y1 = Step<false>(in(j), c_[0], s.a1, s.a2, tiny);
            }
            output(m - 1, Step<false>(y1, c_[1], s.b1, s.b2, tiny));
        } else {
            __m128d y1 = Step<false>(in(0), c_[0], s.a1, s.a2, tiny);
            __m128d y2 = Step<false>(y1, c_[1], s.b1, s.b2, tiny);
            y1 = Step<false>(in(1), c_[0], s.a1, s.a2, tiny);
            __m128d y3 = Step<false>(y2, c_[2], s.c1, s.c2, tiny);
            y2 = Step<false>(y1, c_[1], s.b1, s.b2, tiny);
            y1 = Step<false>(in(2), c_[0], s.a1, s.a2, tiny);
            for (size_t j = 3; j < m; ++j) {
                output(j - 3, Step<false>(y3, c_[3], s.d1, s.d2, tiny));
                y3 = Step<false>(y2, c_[2], s.c1, s.c2, tiny);
                y2 = Step<false>(y1, c_[1], s.b1, s.b2, tiny);
                y1 = Step<false>(in(j), c_[0], s.a1, s.a2, tiny);
            }
            output(m - 3, Step<false>(y3, c_[3], s.d1, s.d2, tiny));
            y3 = Step<false>(y2, c_[2], s.c1, s.c2, tiny);
            y2 = Step<false>(y1, c_[1], s.b1, s.b2, tiny);
            output(m - 2, Step<false>(y3, c_[3], s.d1, s.d2, tiny));
            y3 = Step<false>(y2, c_[2], s.c1, s.c2, tiny);
            output(m - 1, Step<false>(y3, c_[3], s.d1, s.d2, tiny));
        }
        s.Save(w_);
        return _mm_movemask_pd(_mm_castsi128_pd(tiny)) == 0;
    }

    // Handles m frames whose inputs are all +0.0 while the state is all +0.0
    // too: such a step is a fixed point (checked by running one step), so the
    // state stays and every output is +0.0, as the inputs already are. False,
    // with nothing changed, otherwise.
    template <class Input>
    bool RunSilence(size_t m, Input&& input) {
        __m128d any = _mm_setzero_pd();
        for (size_t j = 0; j < m; ++j) {
            any = _mm_or_pd(any, input(j));
        }
        if (!StateIsZero() || !IsPositiveZero(any)) {
            return false;
        }
        alignas(16) double probe[2] = {0.0, 0.0};
        IIRPairKernel next = *this;
        next.Run(probe, 0, 1);
        return IsPositiveZero(_mm_load_pd(probe)) && next.StateIsZero();
    }

    // Every state value is +0.0.
    bool StateIsZero() const {
        __m128d bits = _mm_setzero_pd();
        for (unsigned k = 0; k < N; ++k) {
            bits = _mm_or_pd(bits, _mm_or_pd(w_[k][0], w_[k][1]));
        }
        return IsPositiveZero(bits);
    }

    static bool IsPositiveZero(__m128d v) {
        return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_castpd_si128(v), _mm_setzero_si128())) == 0xFFFF;
    }

private:
    struct Section {
        __m128d fb1, fb2, ff1, ff2;
    };

    // The state in named locals, so that it stays in registers in the loops.
    struct State {
        __m128d a1, a2, b1, b2, c1, c2, d1, d2;
        explicit State(const __m128d (&w)[N][2])
            : a1(w[0][0]), a2(w[0][1]), b1(w[1][0]), b2(w[1][1]), c1(w[N == 4 ? 2 : 0][0]),
              c2(w[N == 4 ? 2 : 0][1]), d1(w[N == 4 ? 3 : 1][0]), d2(w[N == 4 ? 3 : 1][1]) {}
        void Save(__m128d (&w)[N][2]) const {
            w[0][0] = a1, w[0][1] = a2, w[1][0] = b1, w[1][1] = b2;
            if constexpr (N == 4) {
                w[2][0] = c1, w[2][1] = c2, w[3][0] = d1, w[3][1] = d2;
            }
        }
    };

    template <bool Flush>
    static inline __m128d Step(__m128d y, const Section& c, __m128d& w1, __m128d& w2, __m128i& tiny) {
        const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
        const __m128d threshold = _mm_set1_pd(CIIRFilter::kFlushThreshold);
        __m128d w = _mm_sub_pd(_mm_sub_pd(y, _mm_mul_pd(c.fb1, w1)), _mm_mul_pd(c.fb2, w2));
        if constexpr (Flush) {
            // |w| < threshold becomes +0.0, as in the scalar code.
            w = _mm_andnot_pd(_mm_cmplt_pd(_mm_and_pd(w, absMask), threshold), w);
        } else {
            // For non-negative doubles (NaN included) the order of the values is
            // that of their bit patterns, so |w| < threshold exactly when the
            // 64-bit difference of the patterns is negative. Integer operations
            // keep the floating-point ports free for the filter itself.
            const __m128i magnitude = _mm_and_si128(_mm_castpd_si128(w), _mm_castpd_si128(absMask));
            tiny = _mm_or_si128(tiny, _mm_sub_epi64(magnitude, _mm_castpd_si128(threshold)));
        }
        if constexpr (LowPass) {
            y = _mm_add_pd(_mm_add_pd(w, _mm_add_pd(w1, w1)), w2);
        } else {
            y = _mm_add_pd(_mm_add_pd(w, _mm_mul_pd(c.ff1, w1)), _mm_mul_pd(c.ff2, w2));
        }
        w2 = w1;
        w1 = w;
        return y;
    }

    Section c_[N];
    __m128d gain_;
    __m128d w_[N][2];
};

#endif
