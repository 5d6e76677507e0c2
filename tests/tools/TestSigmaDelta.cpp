// The sigma-delta modulator: overload recovery and the generator's dither.
// (Its stability and SNR at -6 dBFS are measured through ffmpeg in TestFfmpegDecode.)
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
