// One-bit sigma-delta modulation of test signals at the DSD rates.
//
// The modulator is a fifth-order loop: a chain of five integrators, the last
// four forming two resonators, with the output bit fed back into every
// integrator (a cascade of resonators with distributed feedback). Its noise
// transfer function has one zero at DC and two complex pairs spread over the
// 0-20 kHz band, and poles chosen so that its gain never exceeds 1.5 (see
// tools/design_sigma_delta.py, which derives the coefficients). Input level 1.0
// is full modulation (all ones); the loop is stable up to about -2.5 dBFS and
// every state is clamped so that an overload cannot make it run away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsdtools {

constexpr uint32_t kDsd64Rate = 2822400;
constexpr uint32_t kDsd128Rate = 5644800;
constexpr uint32_t kDsd256Rate = 11289600;

bool IsDsdRate(uint32_t rate);

class SigmaDeltaModulator {
public:
    static constexpr int kOrder = 5;

    // `rate` picks the coefficient set (DSD64, DSD128 or DSD256; any other
    // rate uses the set of the nearest of the three).
    explicit SigmaDeltaModulator(uint32_t rate = kDsd64Rate);

    // Back to the all-zero state; clamp count and peaks restart too.
    void Reset();

    // Triangular dither of the given peak amplitude (relative to full
    // modulation) added in front of the quantiser; 0 turns it off. The
    // pseudo-random sequence is fixed by `seed`.
    void SetDither(double amplitude, uint64_t seed = 1);

    // Modulates one input sample; returns the output bit (1 = +1, 0 = -1).
    int Step(double x);

    // Modulates `n` samples into `bits` (one 0/1 value per byte).
    void Run(const double* in, size_t n, uint8_t* bits);

    // How many times a state had to be clamped since the last Reset; zero as
    // long as the loop stays in its stable range.
    uint64_t ClampCount() const { return m_clamps; }
    // Largest magnitude each integrator reached since the last Reset.
    double PeakState(int i) const { return m_peak[i]; }
    // The clamp limit of integrator i.
    double StateLimit(int i) const;

private:
    double NextDither();

    const struct Coefficients* m_coef;
    double m_s[kOrder] = {};
    double m_peak[kOrder] = {};
    uint64_t m_clamps = 0;
    double m_dither = 0;
    uint64_t m_rng = 1;
};

// One sine component of a test signal.
struct Tone {
    double frequency = 1000;  // Hz
    double levelDb = -6;      // dB relative to full modulation
    double phase = 0;         // radians at sample 0
};

// The signal of one channel: the sum of its tones; no tones is silence.
struct ChannelSignal {
    std::vector<Tone> tones;
};

struct DsdSignal {
    uint32_t rate = kDsd64Rate;
    std::vector<ChannelSignal> channels;
    double ditherAmplitude = 0;  // see SigmaDeltaModulator::SetDither
    uint64_t seed = 1;
};

// One-bit audio: per channel the packed bits, earliest bit in bit 7 of each
// byte (the byte order DSDIFF stores). Each channel holds
// (sampleCount + 7) / 8 bytes; bits past sampleCount in the last byte carry on
// the modulation.
struct DsdStream {
    uint32_t rate = kDsd64Rate;
    uint64_t sampleCount = 0;
    std::vector<std::vector<uint8_t>> channels;
    uint64_t clampCount = 0;  // sum over channels of the modulators' clamps

    size_t ChannelCount() const { return channels.size(); }
    size_t BytesPerChannel() const { return static_cast<size_t>((sampleCount + 7) / 8); }
};

// Modulates every channel of `signal` for `sampleCount` samples.
DsdStream GenerateDsd(const DsdSignal& signal, uint64_t sampleCount);

// A stream filled with the DSD idle pattern 0x69 in every byte.
DsdStream MakeIdleStream(uint32_t channels, uint32_t rate, uint64_t sampleCount);

// Mirrors the bit order of one byte (bit 7 <-> bit 0).
uint8_t ReverseBits(uint8_t b);

}  // namespace dsdtools
