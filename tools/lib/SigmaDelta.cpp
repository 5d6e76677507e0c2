#include "tools/lib/SigmaDelta.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dsdtools {

// Loop coefficients for one oversampling ratio. a[i] is the feedback of the
// output bit into integrator i, g[j] the negative feedback that turns
// integrators 2-3 and 4-5 into resonators, limit[i] the clamp level of
// integrator i (about twice the largest value it reaches with a -2.5 dBFS sine
// anywhere in the audio band, so that the clamps never act on a stable loop).
struct Coefficients {
    double a[SigmaDeltaModulator::kOrder];
    double g[2];
    double limit[SigmaDeltaModulator::kOrder];
};

namespace {

// Designed for the 0-20 kHz band at each rate (oversampling ratios 70.56,
// 141.12 and 282.24); the input enters the first integrator with the weight
// a[0], which gives the signal a gain of 1 in the audio band.
const Coefficients kCoefDsd64 = {
    {8.7453795498954989e-05, 0.0017175970395616963, 0.017122770685257617,
     0.11381173197327701, 0.40893536515964057},
    {0.00057475626068814734, 0.0016276180024761278},
    {0.002, 0.02, 0.17, 0.8, 1.6}};
const Coefficients kCoefDsd128 = {
    {8.6803733786036249e-05, 0.0017568063669509777, 0.01722430560339416,
     0.11513000235094929, 0.40844691941965156},
    {0.000143694227179747, 0.00040694590186074464},
    {0.002, 0.02, 0.17, 0.8, 1.6}};
const Coefficients kCoefDsd256 = {
    {8.6641816122611087e-05, 0.0017666295495527042, 0.017249656982752277,
     0.11545967904425694, 0.40832475138074298},
    {3.5923879426302818e-05, 0.00010173906317434422},
    {0.002, 0.02, 0.17, 0.8, 1.6}};

}  // namespace

bool IsDsdRate(uint32_t rate) {
    return rate == kDsd64Rate || rate == kDsd128Rate || rate == kDsd256Rate;
}

SigmaDeltaModulator::SigmaDeltaModulator(uint32_t rate) {
    if (rate < (kDsd64Rate + kDsd128Rate) / 2)
        m_coef = &kCoefDsd64;
    else if (rate < (kDsd128Rate + kDsd256Rate) / 2)
        m_coef = &kCoefDsd128;
    else
        m_coef = &kCoefDsd256;
}

void SigmaDeltaModulator::Reset() {
    for (int i = 0; i < kOrder; ++i) {
        m_s[i] = 0;
        m_peak[i] = 0;
    }
    m_clamps = 0;
}

void SigmaDeltaModulator::SetDither(double amplitude, uint64_t seed) {
    m_dither = amplitude > 0 ? amplitude : 0;
    m_rng = seed ? seed : 0x9E3779B97F4A7C15ull;
}

double SigmaDeltaModulator::StateLimit(int i) const { return m_coef->limit[i]; }

double SigmaDeltaModulator::NextDither() {
    // xorshift64*: two uniform values in [-0.5, 0.5) summed give a triangular
    // distribution over (-1, 1).
    auto next = [this]() {
        m_rng ^= m_rng >> 12;
        m_rng ^= m_rng << 25;
        m_rng ^= m_rng >> 27;
        uint64_t r = m_rng * 0x2545F4914F6CDD1Dull;
        return static_cast<double>(r >> 11) * (1.0 / 9007199254740992.0) - 0.5;
    };
    double u1 = next();
    double u2 = next();
    return (u1 + u2) * m_dither;
}

int SigmaDeltaModulator::Step(double x) {
    const Coefficients& c = *m_coef;
    double y = m_s[4];
    if (m_dither > 0) y += NextDither();
    const double v = y >= 0 ? 1.0 : -1.0;

    // Integrator 1 is delaying; each resonator is a delaying integrator
    // followed by a non-delaying one, with the resonator feedback taken from
    // the second's previous value, which puts its poles on the unit circle.
    double n1 = m_s[0] + c.a[0] * x - c.a[0] * v;
    double n2 = m_s[1] + m_s[0] - c.a[1] * v - c.g[0] * m_s[2];
    double n3 = m_s[2] + n2 - c.a[2] * v;
    double n4 = m_s[3] + m_s[2] - c.a[3] * v - c.g[1] * m_s[4];
    double n5 = m_s[4] + n4 - c.a[4] * v;
    double next[kOrder] = {n1, n2, n3, n4, n5};
    for (int i = 0; i < kOrder; ++i) {
        double s = next[i];
        double m = std::fabs(s);
        if (!(m <= c.limit[i])) {  // also catches NaN
            s = std::isnan(s) ? 0.0 : std::copysign(c.limit[i], s);
            ++m_clamps;
            m = c.limit[i];
        }
        if (m > m_peak[i]) m_peak[i] = m;
        m_s[i] = s;
    }
    return v > 0 ? 1 : 0;
}

void SigmaDeltaModulator::Run(const double* in, size_t n, uint8_t* bits) {
    for (size_t i = 0; i < n; ++i) bits[i] = static_cast<uint8_t>(Step(in[i]));
}

DsdStream GenerateDsd(const DsdSignal& signal, uint64_t sampleCount) {
    DsdStream out;
    out.rate = signal.rate;
    out.sampleCount = sampleCount;
    const size_t bytes = out.BytesPerChannel();
    const uint64_t total = static_cast<uint64_t>(bytes) * 8;
    out.channels.resize(signal.channels.size());
    for (size_t ch = 0; ch < signal.channels.size(); ++ch) {
        const ChannelSignal& cs = signal.channels[ch];
        SigmaDeltaModulator mod(signal.rate);
        mod.SetDither(signal.ditherAmplitude, signal.seed + 0x1000 * ch);
        std::vector<double> amp(cs.tones.size());
        std::vector<double> step(cs.tones.size());
        for (size_t t = 0; t < cs.tones.size(); ++t) {
            amp[t] = std::pow(10.0, cs.tones[t].levelDb / 20.0);
            step[t] = cs.tones[t].frequency / static_cast<double>(signal.rate);
        }
        std::vector<uint8_t>& dst = out.channels[ch];
        dst.assign(bytes, 0);
        for (uint64_t n = 0; n < total; ++n) {
            double x = 0;
            for (size_t t = 0; t < cs.tones.size(); ++t) {
                // The phase is reduced to one cycle before the scaling by
                // 2 pi, so that long signals keep their precision.
                double cycles = step[t] * static_cast<double>(n);
                cycles -= std::floor(cycles);
                x += amp[t] * std::sin(2.0 * std::numbers::pi * cycles + cs.tones[t].phase);
            }
            if (mod.Step(x)) dst[n >> 3] |= static_cast<uint8_t>(0x80u >> (n & 7));
        }
        out.clampCount += mod.ClampCount();
    }
    return out;
}

DsdStream MakeIdleStream(uint32_t channels, uint32_t rate, uint64_t sampleCount) {
    DsdStream out;
    out.rate = rate;
    out.sampleCount = sampleCount;
    out.channels.assign(channels, std::vector<uint8_t>(out.BytesPerChannel(), 0x69));
    return out;
}

uint8_t ReverseBits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

}  // namespace dsdtools
