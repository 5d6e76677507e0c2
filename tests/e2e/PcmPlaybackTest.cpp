// PCM from DSF through dsdhost and the plug-in, against ffmpeg as an
// independent decoder that uses the same 96-tap decimator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/e2e/E2eSupport.h"

namespace {

using namespace e2e;

std::vector<double> Doubles(const std::vector<uint8_t>& bytes) {
    std::vector<double> out(bytes.size() / sizeof(double));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(double));
    return out;
}

struct PcmFixture : ::testing::Test {
    Workspace ws;
    fs::path dsf = ws / "tones.dsf";
    void SetUp() override { ASSERT_TRUE(dsdtools::WriteDsf(dsf.string(), Tones(3, 2822400, 2822400 / 5 + 8 * 77))); }
    void Set(const char* key, int value) {
        ASSERT_EQ(RunCommand(Bin("dsdhost") + " settings set \"" + key + "\" " + std::to_string(value)), 0);
    }
    std::vector<double> Decode(const char* name) {
        EXPECT_EQ(RunCommand(Bin("dsdhost") + " decode --output pcm " + Quote(dsf) + " " + Quote(ws / name)), 0);
        return Doubles(ReadBytes(ws / name));
    }
};

TEST_F(PcmFixture, FilterOffMatchesFfmpegAfterStartUp) {
    Set("Low-pass mode", 3);
    const auto ours = Decode("off.raw");
    const auto theirs = FfmpegPcm(dsf);
    ASSERT_FALSE(theirs.empty());
    // ffmpeg decodes the padding of the last block too; ours stops at the audio.
    ASSERT_LE(ours.size(), theirs.size());
    ASSERT_GT(ours.size(), theirs.size() - 3 * 4096);
    // Sample k lines up with sample k; the first 11 frames differ because the
    // two decimators start from different histories.
    double worst = 0;
    for (size_t i = 11 * 3; i < ours.size(); ++i) worst = std::max(worst, std::abs(ours[i] - theirs[i]));
    EXPECT_LT(worst, 1e-6);

    // +6 dB multiplies every value by 10^0.3.
    Set("Add 6dB", 1);
    const auto louder = Decode("off6.raw");
    ASSERT_EQ(louder.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(louder[i], ours[i] * 1.9952623149688795) << i;
}

TEST_F(PcmFixture, LowPassModesShapeTheSpectrumNotTheTones) {
    // The tones (500, 1200, 1900 Hz) pass every filter at unity; the filters
    // only remove what lies far above the audio band.
    std::vector<double> rms;
    for (int mode : {0, 1, 2, 3}) {
        Set("Low-pass mode", mode);
        const auto pcm = Decode(("m" + std::to_string(mode) + ".raw").c_str());
        ASSERT_GT(pcm.size(), 3u * 20000);
        double sum = 0;
        size_t n = 0;
        for (size_t i = 3 * 10000; i < pcm.size() - 3 * 5000; i += 3, ++n) sum += pcm[i] * pcm[i];
        rms.push_back(std::sqrt(sum / static_cast<double>(n)));
    }
    // Out-of-band noise (most of it far above 50 kHz) adds power when the filter is off.
    for (int mode : {0, 1, 2}) EXPECT_LT(rms[mode], rms[3]) << mode;
    // A -6 dBFS sine has an RMS of 0.3545; the Safe filter keeps the channel close to that.
    EXPECT_NEAR(rms[0], 0.5 / std::sqrt(2.0), 0.01);
}

}  // namespace
