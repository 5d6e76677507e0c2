// The sigma-delta modulator: stability, overload recovery, and the
// generator's dither. (Its SNR is measured through ffmpeg in TestFfmpegDecode.)
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;

namespace {

double Sine(double level, double freq, uint32_t rate, uint64_t n) {
    return level * std::sin(2.0 * std::numbers::pi * freq * static_cast<double>(n) / rate);
}

// At -6 dBFS, anywhere in the audio band and at every rate, the loop must
// stay in its linear range for seconds: no clamp ever acts and the states
// keep well inside their limits.
TEST(SigmaDelta, StableAtMinus6dBFSForSeconds) {
    struct Case {
        uint32_t rate;
        double freq;
        double seconds;
    };
    const Case cases[] = {{kDsd64Rate, 20, 3},    {kDsd64Rate, 1000, 3},  {kDsd64Rate, 20000, 3},
                          {kDsd128Rate, 20, 1.5}, {kDsd128Rate, 20000, 1.5}, {kDsd256Rate, 1000, 0.75}};
    const double level = std::pow(10.0, -6.0 / 20);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz rate, " + std::to_string(c.freq) + " Hz tone");
        SigmaDeltaModulator mod(c.rate);
        const uint64_t n = static_cast<uint64_t>(c.seconds * c.rate);
        int64_t sum = 0;
        for (uint64_t i = 0; i < n; ++i) sum += 2 * mod.Step(Sine(level, c.freq, c.rate, i)) - 1;
        EXPECT_EQ(mod.ClampCount(), 0u);
        for (int s = 0; s < SigmaDeltaModulator::kOrder; ++s) EXPECT_LT(mod.PeakState(s), 0.7 * mod.StateLimit(s));
        // The output bits average out to the (zero-mean) input.
        EXPECT_LT(std::fabs(static_cast<double>(sum) / static_cast<double>(n)), 1e-3);
    }
}

// Overloaded, the clamps keep every state bounded; once the input is back in
// range the loop settles and runs without clamping again.
TEST(SigmaDelta, RecoversFromOverload) {
    for (double overDb : {0.0, 6.0}) {
        SigmaDeltaModulator mod(kDsd64Rate);
        const uint64_t over = kDsd64Rate / 50;
        for (uint64_t i = 0; i < over; ++i) mod.Step(Sine(std::pow(10.0, overDb / 20), 100, kDsd64Rate, i));
        EXPECT_GT(mod.ClampCount(), 0u) << overDb << " dBFS should overload the loop";
        for (int s = 0; s < SigmaDeltaModulator::kOrder; ++s) EXPECT_LE(mod.PeakState(s), mod.StateLimit(s));
        const uint64_t settle = kDsd64Rate / 100;
        for (uint64_t i = 0; i < settle; ++i) mod.Step(Sine(0.5, 1000, kDsd64Rate, i));
        const uint64_t after = mod.ClampCount();
        for (uint64_t i = settle; i < kDsd64Rate / 2; ++i) mod.Step(Sine(0.5, 1000, kDsd64Rate, i));
        EXPECT_EQ(mod.ClampCount(), after) << "still clamping after an overload of " << overDb << " dBFS";
    }
    // Not-a-number input must not poison the states either.
    SigmaDeltaModulator mod(kDsd64Rate);
    for (int i = 0; i < 10; ++i) mod.Step(std::nan(""));
    uint64_t clampsAfterNan = mod.ClampCount();
    for (int i = 0; i < 100000; ++i) mod.Step(0.25);
    EXPECT_GT(clampsAfterNan, 0u);
    for (int s = 0; s < SigmaDeltaModulator::kOrder; ++s) EXPECT_FALSE(std::isnan(mod.PeakState(s)));
}

// Dither changes the bits, differs per channel, and is repeatable.
TEST(SigmaDelta, GenerateDsdDither) {
    DsdSignal sig;
    sig.rate = kDsd64Rate;
    sig.channels = {ChannelSignal{{{1000, -6, 0}}}, ChannelSignal{{{1000, -6, 0}}}};
    const DsdStream plain = GenerateDsd(sig, 100003);
    sig.ditherAmplitude = 0.01;
    const DsdStream d = GenerateDsd(sig, 100003);
    EXPECT_EQ(d.channels, GenerateDsd(sig, 100003).channels);
    EXPECT_NE(d.channels[0], plain.channels[0]);
    EXPECT_NE(d.channels[0], d.channels[1]);
    EXPECT_EQ(d.clampCount, 0u);
}

}  // namespace
