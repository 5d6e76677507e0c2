// Files from the generators, decoded by ffmpeg as a black box, must give back
// the modulated tones: right channel order, frequency and level, and a clean
// audio band.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "SignalAnalysis.h"
#include "tests/e2e/E2eSupport.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/DsfWriter.h"
#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;
using namespace dsdtest;

namespace {

// Distinct, non-harmonic frequencies, so that a swapped channel shows.
const double kFreqs[6] = {997, 2503, 4001, 6007, 9001, 15013};
constexpr size_t kFftSize = 65536;

// The nearest frequency that falls on an FFT bin at the decoded rate: such a
// tone has no window leakage, so the measured noise is the modulator's and
// the decoder's alone.
double BinFrequency(double f, uint32_t dsdRate) {
    const double bin = dsdRate / 8.0 / kFftSize;
    return std::round(f / bin) * bin;
}

struct DecodeCase {
    bool dsf;
    uint32_t channels;
    uint32_t rate;
};

std::string CaseName(const ::testing::TestParamInfo<DecodeCase>& info) {
    return std::string(info.param.dsf ? "Dsf" : "Dsdiff") + std::to_string(info.param.channels) + "ch" +
           std::to_string(info.param.rate / 44100) + "x";
}

class FfmpegDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(FfmpegDecode, TonesComeBackCleanInEveryChannel) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not available";
    const DecodeCase c = GetParam();
    const double levelDb = -6.0;
    DsdSignal sig;
    sig.rate = c.rate;
    for (uint32_t ch = 0; ch < c.channels; ++ch) sig.channels.push_back({{{BinFrequency(kFreqs[ch], c.rate), levelDb, 0.0}}});
    // Lengths that leave a part-filled last DSF block and a part-filled last byte.
    const uint64_t samples = c.rate / 2 + 12345;
    DsdStream stream = GenerateDsd(sig, samples);
    ASSERT_EQ(stream.clampCount, 0u);

    const std::string path = TempPath(CaseName({c, 0}) + (c.dsf ? ".dsf" : ".dff"));
    ASSERT_TRUE(c.dsf ? WriteDsf(path, stream) : WriteDsdiff(path, stream));
    const std::vector<double> pcm = e2e::FfmpegPcm(path);

    const double pcmRate = c.rate / 8.0;
    const size_t frames = pcm.size() / c.channels;
    // ffmpeg decodes whole bytes; the DSF block padding must not reach the output.
    ASSERT_GE(frames, samples / 8 - 1);
    ASSERT_LE(frames, samples / 8 + 1);
    const size_t start = 8192;  // past the decoder's start-up
    for (uint32_t ch = 0; ch < c.channels; ++ch) {
        SCOPED_TRACE("channel " + std::to_string(ch));
        const double f = BinFrequency(kFreqs[ch], c.rate);
        const ToneMeasure m = MeasureTone(pcm, c.channels, ch, start, kFftSize, pcmRate, f);
        std::printf("  %s ch%u: %.0f Hz level %.3f dB SNR(20 Hz-20 kHz) %.1f dB\n",
                    CaseName({c, 0}).c_str(), ch, m.peakFrequency, m.levelDb, m.snrDb);
        EXPECT_NEAR(m.peakFrequency, f, pcmRate / kFftSize / 2);
        EXPECT_NEAR(m.levelDb, levelDb, 0.1);
        // A fifth-order loop gives well over 100 dB here; a weaker or broken
        // loop falls far below this bound.
        EXPECT_GT(m.snrDb, 90.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Generators, FfmpegDecode,
                         ::testing::Values(DecodeCase{true, 1, kDsd64Rate}, DecodeCase{true, 2, kDsd64Rate},
                                           DecodeCase{true, 5, kDsd64Rate}, DecodeCase{true, 6, kDsd64Rate},
                                           DecodeCase{true, 2, kDsd128Rate}, DecodeCase{false, 1, kDsd64Rate},
                                           DecodeCase{false, 2, kDsd64Rate}, DecodeCase{false, 5, kDsd64Rate},
                                           DecodeCase{false, 6, kDsd64Rate}, DecodeCase{false, 2, kDsd128Rate},
                                           DecodeCase{false, 6, kDsd128Rate}, DecodeCase{true, 1, kDsd256Rate},
                                           DecodeCase{false, 2, kDsd256Rate}),
                         CaseName);

}  // namespace
