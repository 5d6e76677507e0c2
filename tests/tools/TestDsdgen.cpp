// The dsdgen program end to end: options in, a readable file out, and exit
// codes that tell failures apart.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "SignalAnalysis.h"
#include "tests/e2e/E2eSupport.h"

using namespace dsdtest;

namespace {

int RunDsdgen(const std::string& args) {
    return e2e::RunCommand(e2e::Quote(e2e::Bin("dsdgen")) + " " + args + " >/dev/null 2>&1");
}

TEST(Dsdgen, WritesDsfWithTagAndTwoToneChannel) {
    const std::string path = TempPath("gen.dsf");
    ASSERT_EQ(RunDsdgen("--channels 2 --samples 1000003 --freq 1000+5000,3000 --level -12 --block-size 512 "
                        "--id3-title \"Two tones\" \"" + path + "\""),
              0);
    // The sample count and block size asked for (ffmpeg decodes either way).
    const std::vector<uint8_t> f = e2e::ReadBytes(path);
    ASSERT_GT(f.size(), 92u);
    EXPECT_EQ(LoadLE(&f[28 + 36], 8), 1000003u);
    EXPECT_EQ(LoadLE(&f[28 + 44], 4), 512u);

    if (HaveFfmpeg()) {
        // ffmpeg finds the tag, and the tones where they belong.
        EXPECT_EQ(RunCommand("ffprobe -v error -show_entries format_tags=title -of csv=p=0 \"" + path + "\""),
                  "Two tones\n");
        const std::vector<double> pcm = e2e::FfmpegPcm(path);
        const auto levelDb = [&](size_t channel, double freq) {
            return MeasureTone(pcm, 2, channel, 8192, 65536, 352800, freq).levelDb;
        };
        // Both tones in the left channel, neither in the right one.
        for (double fr : {1000.0, 5000.0}) {
            EXPECT_NEAR(levelDb(0, fr), -12, 0.1) << fr;
            EXPECT_LT(levelDb(1, fr), -90) << fr;
        }
        EXPECT_NEAR(levelDb(1, 3000), -12, 0.1);
    }
}

TEST(Dsdgen, WritesDsdiffAndReportsFailures) {
    const std::string path = TempPath("gen.DFF");
    ASSERT_EQ(RunDsdgen("--rate 5644800 --channels 6 --seconds 0.01 --lsco 4 \"" + path + "\""), 0);
    const std::vector<uint8_t> f = e2e::ReadBytes(path);
    const std::string text(f.begin(), f.end());
    EXPECT_EQ(text.substr(0, 4), "FRM8");
    EXPECT_NE(text.find("MLFTMRGTC   LFE LS  RS  "), std::string::npos);
    EXPECT_NE(text.find(std::string("LSCO\0\0\0\0\0\0\0\x02\0\x04", 14)), std::string::npos);
    // 56448 samples per channel: 7056 bytes for each of the six channels.
    EXPECT_NE(text.find(std::string("DSD \0\0\0\0\0\0\xA5\x60", 12)), std::string::npos);

    EXPECT_EQ(RunDsdgen("--seconds 0.01 \"" + TempPath("x.wav") + "\""), 2);
    EXPECT_EQ(RunDsdgen("--seconds 0.01 --freq 1000,x \"" + TempPath("x.dsf") + "\""), 2);
    EXPECT_NE(RunDsdgen("--rate 44100 \"" + TempPath("x.dsf") + "\""), 0);
    EXPECT_NE(RunDsdgen("--channels 7 \"" + TempPath("x.dsf") + "\""), 0);
    EXPECT_EQ(RunDsdgen("--seconds 0.01 \"" + TempPath("no-such-dir") + "/x.dsf\""), 1);
    // A full-scale tone overloads the modulator: the file is written but the
    // run fails.
    const std::string loud = TempPath("loud.dsf");
    EXPECT_EQ(RunDsdgen("--seconds 0.05 --level 0 --freq 100 \"" + loud + "\""), 3);
}

}  // namespace
