#include "pcm/IIRFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pcm/IIRPairKernel.h"
#include "pcm/PcmKernels.h"

namespace {

// Analogue prototypes normalised to 1 rad/s: each section is 1 / (s^2 + c s + 1).
constexpr double kProto2[2] = {0.7653668647, 1.847759065};
constexpr double kProto4[4] = {0.390180644, 1.111140466, 1.6629392246, 1.9615705608};

// One section of Process: the operation order defines the result bit for bit.
inline double RunSection(const double* c, double* s, double y) {
    double w = y - c[CIIRFilter::kFb1] * s[CIIRFilter::kW1] - c[CIIRFilter::kFb2] * s[CIIRFilter::kW2];
    if (std::fabs(w) < CIIRFilter::kFlushThreshold) {
        w = 0.0;
    }
    const double out = w + c[CIIRFilter::kFf1] * s[CIIRFilter::kW1] + c[CIIRFilter::kFf2] * s[CIIRFilter::kW2];
    s[CIIRFilter::kW2] = s[CIIRFilter::kW1];
    s[CIIRFilter::kW1] = w;
    return out;
}

}  // namespace

bool CIIRFilter::Design(uint32_t sections, double fs, double fc, double gainParameter, double q) {
    if (valid_ && sections == requestedSections_ && fs == sampleRate_ && fc == cutOff_ &&
        gainParameter == gainParameter_ && q == quality_) {
        return true;
    }
    valid_ = 0;
    // Written so that NaN fails every check.
    if (!(fs >= 1000.0 && fs <= 1e7) || !(fc >= 0.0 && fc <= 1e7) ||
        !(gainParameter >= -1000.0 && gainParameter <= 1000.0) || !(q >= 0.01 && q <= 10000.0)) {
        return false;
    }
    requestedSections_ = sections;
    sampleRate_ = fs;
    cutOff_ = fc;
    gainParameter_ = gainParameter;
    quality_ = q;
    activeSections_ = 0;
    bilinear_ = 1;

    const double* proto = nullptr;
    uint32_t count = 0;
    if (!(fc > fs * 0.5 * 0.99)) {
        if (sections == 2) {
            proto = kProto2;
        } else if (sections == 4) {
            proto = kProto4;
        } else {
            return false;
        }
        count = sections;
    }

    std::memset(coef_, 0, sizeof coef_);
    std::memset(state_, 0, sizeof state_);
    const double pi = 4.0 * std::atan(1.0);
    const double omega = 2.0 * fs * std::tan(pi * fc / fs);
    const double fs2 = fs * fs;
    double gain = 1.0;
    for (uint32_t k = 0; k < count; ++k) {
        double a0 = 1.0, a1 = 0.0, a2 = 0.0;
        double b0 = 1.0, b1 = proto[k], b2 = 1.0;
        b1 = b1 / q;
        a1 = a1 / omega;
        b1 = b1 / omega;
        a2 = a2 / (omega * omega);
        b2 = b2 / (omega * omega);
        a1 = 2.0 * fs * a1;
        b1 = 2.0 * fs * b1;
        const double A2 = 4.0 * fs2 * a2;
        const double B2 = 4.0 * fs2 * b2;
        const double n0 = a1 + A2 + a0;
        const double d0 = b1 + B2 + b0;
        gain = gain * n0 / d0;
        coef_[k][kFf1] = (2.0 * a0 - 8.0 * fs2 * a2) / n0;
        coef_[k][kFf2] = (A2 - a1 + a0) / n0;
        coef_[k][kFb1] = (2.0 * b0 - 8.0 * fs2 * b2) / d0;
        coef_[k][kFb2] = (B2 - b1 + b0) / d0;
    }
    gain_ = gain;
    activeSections_ = count;
    valid_ = 1;
    return true;
}

double CIIRFilter::Process(double x) {
    double y = x * gain_;
    switch (activeSections_) {
    case 0:
        return y;
    case 2:
        y = RunSection(coef_[0], state_[0], y);
        return RunSection(coef_[1], state_[1], y);
    case 4:
        y = RunSection(coef_[0], state_[0], y);
        y = RunSection(coef_[1], state_[1], y);
        y = RunSection(coef_[2], state_[2], y);
        return RunSection(coef_[3], state_[3], y);
    default:
        for (uint32_t k = 0; k < activeSections_ && k < kMaxSections; ++k) {
            y = RunSection(coef_[k], state_[k], y);
        }
        return y;
    }
}

void CIIRFilter::Reset() { std::memset(state_, 0, sizeof state_); }


#if KW_PCM_SSE2
namespace {

// Runs a pair kernel over a block in short pieces. Each piece is first run
// without the flush to zero; when no value in it needed flushing, that result
// is exact and kept. Otherwise the piece runs again from the saved state with
// the flush, except that a piece of +0.0 inputs on an all-zero state (digital
// silence) is a fixed point of the filter and stays as it is.
// load(j) gives frame j's two samples; store(j, y) writes its results.
template <class Kernel, class Load, class Store>
void RunPieces(Kernel& kernel, size_t n, Load&& load, Store&& store) {
    constexpr size_t kPiece = 128;
    __m128d saved[kPiece];
    for (size_t start = 0; start < n; start += kPiece) {
        const size_t m = std::min(kPiece, n - start);
        Kernel trial = kernel;
        // The results go straight out; the inputs are kept for a second run.
        if (trial.RunUnflushed(
                m, [&](size_t j) { return saved[j] = load(start + j); },
                [&](size_t j, __m128d y) { store(start + j, y); })) {
            kernel = trial;
            continue;
        }
        const auto input = [&](size_t j) { return saved[j]; };
        if (kernel.RunSilence(m, input)) {
            for (size_t j = 0; j < m; ++j) {
                store(start + j, saved[j]);  // +0.0 in, +0.0 out
            }
        } else {
            kernel.Run(m, input, [&](size_t j, __m128d y) { store(start + j, y); });
        }
    }
}

// The flushed run of one piece from its saved inputs (the second half of RunPieces).
template <class Kernel, class Input, class Store>
void RunPieceFlushed(Kernel& kernel, size_t m, Input&& input, Store&& store) {
    if (kernel.RunSilence(m, input)) {
        for (size_t j = 0; j < m; ++j) {
            store(j, input(j));  // +0.0 in, +0.0 out
        }
    } else {
        kernel.Run(m, input, store);
    }
}

// Two filters over interleaved samples with the AVX2 kernel for the pieces
// that need no flush.
template <class Kernel>
void RunPairBlockAvx2(Kernel& kernel, double* data, size_t n, size_t stride) {
    constexpr size_t kPiece = 128;
    alignas(16) double saved[2 * kPiece];
    IIRPairLanes lanes;
    for (size_t start = 0; start < n; start += kPiece) {
        const size_t m = std::min(kPiece, n - start);
        double* piece = data + start * stride;
        kernel.ExportLanes(lanes);
        if (iir_pair_unflushed_avx2(lanes, piece, stride, m, saved)) {
            kernel.ImportState(lanes);
            continue;
        }
        RunPieceFlushed(
            kernel, m, [&](size_t j) { return _mm_load_pd(saved + 2 * j); },
            [&](size_t j, __m128d y) { _mm_storeu_pd(piece + j * stride, y); });
    }
}

// Two filters over interleaved samples.
template <class Kernel>
void RunPairBlock(Kernel& kernel, double* data, size_t n, size_t stride) {
    if (ActivePcmKernels() == PcmKernelSet::kAvx2) {
        RunPairBlockAvx2(kernel, data, n, stride);
        return;
    }
    RunPieces(
        kernel, n, [&](size_t j) { return _mm_loadu_pd(data + j * stride); },
        [&](size_t j, __m128d y) { _mm_storeu_pd(data + j * stride, y); });
}

// One filter: both lanes run the same filter on the same samples (so they stay
// identical); lane 0 is the result. This gives a single channel the pieces'
// shorter dependency chains.
template <class Kernel>
void RunSingleBlock(Kernel& kernel, double* data, size_t n, size_t stride) {
    RunPieces(
        kernel, n, [&](size_t j) { return _mm_set1_pd(data[j * stride]); },
        [&](size_t j, __m128d y) { _mm_storel_pd(data + j * stride, y); });
}

// Calls body with the pair kernel that fits filters a and b (same section
// count, 2 or 4); false when there is none.
template <class Body>
bool WithPairKernel(const CIIRFilter& a, const CIIRFilter& b, Body&& body) {
    if (a.ActiveSections() != b.ActiveSections()) {
        return false;
    }
    if (a.ActiveSections() == 4) {
        if (HasLowPassNumerators<4>(a, b)) {
            body(IIRPairKernel<4, true>(a, b));
        } else {
            body(IIRPairKernel<4>(a, b));
        }
        return true;
    }
    if (a.ActiveSections() == 2) {
        if (HasLowPassNumerators<2>(a, b)) {
            body(IIRPairKernel<2, true>(a, b));
        } else {
            body(IIRPairKernel<2>(a, b));
        }
        return true;
    }
    return false;
}

}  // namespace
#endif

void CIIRFilter::ProcessBlock(double* data, size_t n, size_t stride) {
#if KW_PCM_SSE2
    if (ActivePcmKernels() != PcmKernelSet::kPortable && WithPairKernel(*this, *this, [&](auto&& kernel) {
            RunSingleBlock(kernel, data, n, stride);
            kernel.Store(*this, *this);
        })) {
        return;
    }
#endif
    for (size_t j = 0; j < n; ++j) {
        data[j * stride] = Process(data[j * stride]);
    }
}

void CIIRFilter::ProcessPair(CIIRFilter& a, CIIRFilter& b, double* data, size_t n, size_t stride) {
#if KW_PCM_SSE2
    if (ActivePcmKernels() != PcmKernelSet::kPortable && WithPairKernel(a, b, [&](auto&& kernel) {
            RunPairBlock(kernel, data, n, stride);
            kernel.Store(a, b);
        })) {
        return;
    }
#endif
    a.ProcessBlock(data, n, stride);
    b.ProcessBlock(data + 1, n, stride);
}
