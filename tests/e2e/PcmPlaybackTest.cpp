// PCM from DSF through dsdhost, the plug-in and its settings, against ffmpeg as
// an independent decoder that uses the same 96-tap decimator. (Every low-pass
// mode is compared with the reference in the PCM tests.)
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

}  // namespace
