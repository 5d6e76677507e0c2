// Sines through the whole pipeline: a sigma-delta modulated tone per channel,
// converted with each low-pass mode. The ratio of the filtered to the
// unfiltered tone amplitude is the low-pass filter's response.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "pcm/ConvertToPCM.h"
#include "pcm/ConvertToPCMContext.h"
#include "tests/pcm/PcmReference.h"
#include "tools/lib/SigmaDelta.h"

namespace {

const double kFrequencies[] = {1000, 24000, 30000, 48000, 50000, 60000};
constexpr size_t kChannels = 6;

// Amplitude of frequency f in channel c, fitted over the settled part.
double Amplitude(const std::vector<double>& pcm, size_t c, double f, double rate) {
    const size_t frames = pcm.size() / kChannels;
    const size_t first = 4000;
    double re = 0, im = 0;
    for (size_t k = first; k < frames; ++k) {
        const double phase = 2 * M_PI * f * static_cast<double>(k) / rate;
        re += pcm[k * kChannels + c] * std::cos(phase);
        im += pcm[k * kChannels + c] * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / static_cast<double>(frames - first);
}

using pcmref::ResponseDb;

TEST(PipelineTest, SinesThroughEveryMode) {
    dsdtools::DsdSignal signal;
    signal.channels.resize(kChannels);
    for (size_t c = 0; c < kChannels; ++c) signal.channels[c].tones = {{kFrequencies[c], -6, 0.1 * c}};
    const size_t frames = 352800 / 4;
    const dsdtools::DsdStream stream = dsdtools::GenerateDsd(signal, frames * 8);
    std::vector<uint8_t> interleaved(frames * kChannels);
    for (size_t k = 0; k < frames; ++k)
        for (size_t c = 0; c < kChannels; ++c) interleaved[k * kChannels + c] = stream.channels[c][k];

    const auto convert = [&](uint32_t mode, CIIRFilter* design) {
        auto* context = TakeConvertContext(kChannels, 352800, mode);
        ResetConvertContext(*context);
        std::vector<double> pcm(frames * kChannels);
        for (size_t k = 0; k < frames; k += 4096) {
            const size_t n = std::min<size_t>(4096, frames - k);
            ConvertToPCM(*context, interleaved.data() + k * kChannels, n, 1, kChannels, false, false,
                         pcm.data() + k * kChannels);
        }
        if (design && context->filters[0]) *design = *context->filters[0];
        ReturnConvertContext(context);
        return pcm;
    };
    const std::vector<double> off = convert(kLowPassOff, nullptr);
    // The decimator alone passes the audio band with unit gain: -6 dB in, -6 dB out.
    EXPECT_NEAR(-6.0, 20 * std::log10(Amplitude(off, 0, 1000, 352800)), 0.05);

    // Measured against the designed response at every tone (so the octave
    // above the cut-off too), and -3 dB at the cut-off itself.
    const std::pair<uint32_t, double> modes[] = {
        {kLowPassSafe, 24000}, {kLowPassMedium, 30000}, {kLowPassPermissive, 50000}};
    for (const auto& [mode, cutOff] : modes) {
        CIIRFilter design;
        const std::vector<double> filtered = convert(mode, &design);
        for (size_t c = 0; c < kChannels; ++c) {
            const double f = kFrequencies[c];
            const double measured = 20 * std::log10(Amplitude(filtered, c, f, 352800) / Amplitude(off, c, f, 352800));
            EXPECT_NEAR(ResponseDb(design, f), measured, 0.2) << "mode " << mode << " at " << f;
            if (f == cutOff || f == 1000) {
                EXPECT_NEAR(f == 1000 ? 0.0 : -3.0, measured, f == 1000 ? 0.02 : 0.1) << "mode " << mode << " at " << f;
            }
        }
    }
}

}  // namespace
