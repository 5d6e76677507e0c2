#include "pcm/IIRPairAvx2.h"

#include <cstdint>

#include "pcm/IIRFilter.h"
#include "pcm/PcmKernels.h"

#if KW_PCM_AVX2
#include <immintrin.h>

#define KW_AVX2 __attribute__((target("avx2")))

namespace {

// Sections 2r and 2r + 1 of both filters; lane order a, b, a, b.
struct Pair {
    __m256d fb1, fb2, ff1, ff2, w1, w2;
};

// Section k works on frame t - lag(k) in step t. Each section still sees its
// frames in order; within a register the upper pair uses the lower pair's
// output from two steps back, so the register's own result is not needed by
// the very next step and the sections' chains overlap.
//   two sections:  lags 0, 2
//   four sections: lags 0, 2 | 3, 5 (section 2 takes section 1's output of the step before)
template <bool LowPass, bool Masked>
KW_AVX2 inline __m256d Step(__m256d y, Pair& s, __m256i& tiny, __m256d active) {
    const __m256i absMask = _mm256_set1_epi64x(0x7FFFFFFFFFFFFFFFLL);
    const __m256i threshold = _mm256_castpd_si256(_mm256_set1_pd(CIIRFilter::kFlushThreshold));
    const __m256d w = _mm256_sub_pd(_mm256_sub_pd(y, _mm256_mul_pd(s.fb1, s.w1)), _mm256_mul_pd(s.fb2, s.w2));
    // |w| < threshold exactly when the difference of the magnitude's bit
    // pattern and the threshold's is negative (see IIRPairKernel::Step).
    __m256i diff = _mm256_sub_epi64(_mm256_and_si256(_mm256_castpd_si256(w), absMask), threshold);
    if constexpr (Masked) {
        diff = _mm256_and_si256(diff, _mm256_castpd_si256(active));
    }
    tiny = _mm256_or_si256(tiny, diff);
    __m256d out;
    if constexpr (LowPass) {
        out = _mm256_add_pd(_mm256_add_pd(w, _mm256_add_pd(s.w1, s.w1)), s.w2);
    } else {
        out = _mm256_add_pd(_mm256_add_pd(w, _mm256_mul_pd(s.ff1, s.w1)), _mm256_mul_pd(s.ff2, s.w2));
    }
    if constexpr (Masked) {
        // Sections whose frame lies outside the block keep their state.
        s.w2 = _mm256_blendv_pd(s.w2, s.w1, active);
        s.w1 = _mm256_blendv_pd(s.w1, w, active);
    } else {
        s.w2 = s.w1;
        s.w1 = w;
    }
    return out;
}

// All-ones in the lanes whose frame (step t less the lane's lag) is one of 0 … m - 1.
KW_AVX2 inline __m256d Active(__m256d t, __m256d m, __m256d lag) {
    const __m256d frame = _mm256_sub_pd(t, lag);
    return _mm256_and_pd(_mm256_cmp_pd(frame, _mm256_setzero_pd(), _CMP_GE_OQ), _mm256_cmp_pd(frame, m, _CMP_LT_OQ));
}

template <unsigned R, bool LowPass>
class Runner {
public:
    KW_AVX2 explicit Runner(const IIRPairLanes& l) {
        for (unsigned r = 0; r < R; ++r) {
            p_[r].fb1 = _mm256_loadu_pd(&l.fb1[2 * r][0]);
            p_[r].fb2 = _mm256_loadu_pd(&l.fb2[2 * r][0]);
            p_[r].ff1 = _mm256_loadu_pd(&l.ff1[2 * r][0]);
            p_[r].ff2 = _mm256_loadu_pd(&l.ff2[2 * r][0]);
            p_[r].w1 = _mm256_loadu_pd(&l.w1[2 * r][0]);
            p_[r].w2 = _mm256_loadu_pd(&l.w2[2 * r][0]);
            // Lags of the register's two sections, per lane.
            const double low = r == 0 ? 0.0 : 3.0, high = r == 0 ? 2.0 : 5.0;
            lag_[r] = _mm256_setr_pd(low, low, high, high);
        }
        gain_ = _mm_loadu_pd(l.gain);
        out0_[0] = out0_[1] = out1_[0] = out1_[1] = _mm256_setzero_pd();
    }

    KW_AVX2 void Save(IIRPairLanes& l) const {
        for (unsigned r = 0; r < R; ++r) {
            _mm256_storeu_pd(&l.w1[2 * r][0], p_[r].w1);
            _mm256_storeu_pd(&l.w2[2 * r][0], p_[r].w2);
        }
    }

    KW_AVX2 bool Run(double* data, size_t stride, size_t m, double* saved) {
        constexpr size_t kLag = R == 1 ? 2 : 5;  // lag of the last section
        __m256i tiny = _mm256_setzero_si256();
        size_t t = 0;
        for (; t < kLag; ++t) {
            StepAt<true>(t, data, stride, m, saved, tiny);
        }
        for (; t < m; ++t) {
            StepAt<false>(t, data, stride, m, saved, tiny);
        }
        for (; t < m + kLag; ++t) {
            StepAt<true>(t, data, stride, m, saved, tiny);
        }
        return _mm256_movemask_pd(_mm256_castsi256_pd(tiny)) == 0;
    }

private:
    template <bool Masked>
    KW_AVX2 inline void StepAt(size_t t, double* data, size_t stride, size_t m, double* saved, __m256i& tiny) {
        constexpr size_t kLag = R == 1 ? 2 : 5;
        __m128d x = _mm_setzero_pd();
        if (!Masked || t < m) {
            x = _mm_loadu_pd(data + t * stride);
            _mm_storeu_pd(saved + 2 * t, x);
        }
        const __m256d xg = _mm256_castpd128_pd256(_mm_mul_pd(x, gain_));
        __m256d active0 = _mm256_setzero_pd(), active1 = _mm256_setzero_pd();
        if constexpr (Masked) {
            const __m256d tv = _mm256_set1_pd(static_cast<double>(t));
            const __m256d mv = _mm256_set1_pd(static_cast<double>(m));
            active0 = Active(tv, mv, lag_[0]);
            if constexpr (R == 2) {
                active1 = Active(tv, mv, lag_[1]);
            }
        }
        // Register 0: the new frame below, section 0's output of two steps back above.
        const __m256d in0 = _mm256_permute2f128_pd(xg, out0_[1], 0x20);
        if constexpr (R == 1) {
            const __m256d out = Step<LowPass, Masked>(in0, p_[0], tiny, active0);
            out0_[1] = out0_[0];
            out0_[0] = out;
            if (t >= kLag) {
                _mm_storeu_pd(data + (t - kLag) * stride, _mm256_extractf128_pd(out, 1));
            }
        } else {
            // Register 1: section 1's output of the step before below, section
            // 2's output of two steps back above.
            const __m256d in1 = _mm256_permute2f128_pd(out0_[0], out1_[1], 0x21);
            const __m256d o0 = Step<LowPass, Masked>(in0, p_[0], tiny, active0);
            const __m256d o1 = Step<LowPass, Masked>(in1, p_[1], tiny, active1);
            out0_[1] = out0_[0];
            out0_[0] = o0;
            out1_[1] = out1_[0];
            out1_[0] = o1;
            if (t >= kLag) {
                _mm_storeu_pd(data + (t - kLag) * stride, _mm256_extractf128_pd(o1, 1));
            }
        }
    }

    Pair p_[R];
    __m256d lag_[R];
    __m128d gain_;
    // Each register's outputs of the last step and the one before.
    __m256d out0_[2];
    __m256d out1_[2];
};

template <unsigned R, bool LowPass>
KW_AVX2 bool RunWith(IIRPairLanes& lanes, double* data, size_t stride, size_t m, double* saved) {
    Runner<R, LowPass> runner(lanes);
    if (!runner.Run(data, stride, m, saved)) {
        return false;
    }
    runner.Save(lanes);
    return true;
}

}  // namespace

KW_AVX2 bool iir_pair_unflushed_avx2(IIRPairLanes& lanes, double* data, size_t stride, size_t m, double* saved) {
    if (m == 0) {
        return true;
    }
    if (lanes.sections == 4) {
        return lanes.lowPass ? RunWith<2, true>(lanes, data, stride, m, saved)
                             : RunWith<2, false>(lanes, data, stride, m, saved);
    }
    if (lanes.sections == 2) {
        return lanes.lowPass ? RunWith<1, true>(lanes, data, stride, m, saved)
                             : RunWith<1, false>(lanes, data, stride, m, saved);
    }
    return false;
}

#else

bool iir_pair_unflushed_avx2(IIRPairLanes&, double*, size_t, size_t, double*) { return false; }

#endif
