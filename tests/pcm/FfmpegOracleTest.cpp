// The decimator against an independent DSD decoder (ffmpeg, run as a black
// box through a pipe): with the low-pass filter off and no gain, every sample
// after the start-up must agree within 1e-6 (the other decoder works in 32-bit
// floats). Sample k of ours lines up with sample k of theirs; the first
// kDsd2PcmFilterBytes - 1 samples differ, since the two start from different
// silence histories.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pcm/ConvertToPCM.h"
#include "pcm/ConvertToPCMContext.h"
#include "tests/e2e/E2eSupport.h"
#include "tools/lib/DsfWriter.h"
#include "tools/lib/SigmaDelta.h"

namespace {

struct Dsf {
    uint32_t channels = 0, rate = 0, blockSize = 0;
    uint64_t sampleCount = 0;
    std::vector<uint8_t> data;  // whole block groups only
};

uint64_t Le(const std::vector<uint8_t>& f, size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | f[at + i];
    return v;
}

bool ReadDsf(const std::string& path, Dsf& dsf) {
    const std::vector<uint8_t> f = e2e::ReadBytes(path);
    if (f.size() < 92 || std::memcmp(f.data(), "DSD ", 4) != 0 || std::memcmp(f.data() + 28, "fmt ", 4) != 0) {
        return false;
    }
    dsf.channels = static_cast<uint32_t>(Le(f, 52, 4));
    dsf.rate = static_cast<uint32_t>(Le(f, 56, 4));
    dsf.sampleCount = Le(f, 64, 8);
    dsf.blockSize = static_cast<uint32_t>(Le(f, 72, 4));
    const size_t audio = 28 + Le(f, 32, 8) + 12;
    if (dsf.channels == 0 || dsf.blockSize == 0 || audio > f.size()) return false;
    const size_t available = std::min<uint64_t>(Le(f, audio - 8, 8) - 12, f.size() - audio);
    const size_t group = static_cast<size_t>(dsf.blockSize) * dsf.channels;
    dsf.data.assign(f.begin() + audio, f.begin() + audio + available / group * group);
    return true;
}

bool HaveFfmpeg() { return e2e::RunCommand("ffmpeg -version >/dev/null 2>&1") == 0; }

// Our decimator over the file's block groups, as sample delivery runs it.
std::vector<double> Decimate(const Dsf& dsf) {
    auto* context = TakeConvertContext(dsf.channels, dsf.rate / 8, kLowPassOff);
    ResetConvertContext(*context);
    const size_t group = static_cast<size_t>(dsf.blockSize) * dsf.channels;
    std::vector<double> out(dsf.data.size());
    for (size_t g = 0; g * group < dsf.data.size(); ++g) {
        ConvertToPCM(*context, dsf.data.data() + g * group, dsf.blockSize, dsf.blockSize, 1, true, false,
                     out.data() + g * group);
    }
    ReturnConvertContext(context);
    return out;
}

// Compares from the first sample after the start-up; returns the frames
// compared. `exactLength`: the other decoder must deliver exactly the frames
// of the header's sample count (files from other writers do not always keep
// the count and the data size consistent; then the common part is compared).
size_t ExpectAgreement(const std::string& path, bool exactLength) {
    Dsf dsf;
    EXPECT_TRUE(ReadDsf(path, dsf)) << path;
    const std::vector<double> theirs = e2e::FfmpegPcm(path);
    const std::vector<double> ours = Decimate(dsf);
    const size_t frames = std::min<size_t>(theirs.size(), ours.size()) / std::max(dsf.channels, 1u);
    if (exactLength) {
        EXPECT_EQ(theirs.size(), dsf.sampleCount / 8 * dsf.channels) << path;
    }
    for (size_t i = (kDsd2PcmFilterBytes - 1) * dsf.channels; i < frames * dsf.channels; ++i) {
        if (std::fabs(ours[i] - theirs[i]) > 1e-6) {
            ADD_FAILURE() << path << " frame " << i / dsf.channels << " channel " << i % dsf.channels << ": "
                          << ours[i] << " vs " << theirs[i];
            return 0;
        }
    }
    return frames;
}

TEST(FfmpegOracleTest, GeneratedFileAgreesAfterStartUp) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    dsdtools::DsdSignal signal;
    signal.channels.resize(3);
    signal.channels[0].tones = {{1000, -6, 0}};
    signal.channels[1].tones = {{5000, -12, 0.3}, {17000, -12, 1.0}};
    signal.channels[2].tones = {{30000, -10, 0}};
    // Five whole blocks and part of a sixth (padded with zero bytes).
    const dsdtools::DsdStream stream = dsdtools::GenerateDsd(signal, 4096ull * 8 * 5 + 8 * 1000);
    const auto path = std::filesystem::temp_directory_path() / "pcm_oracle_test.dsf";
    ASSERT_TRUE(dsdtools::WriteDsf(path.string(), stream));
    EXPECT_EQ(stream.BytesPerChannel(), ExpectAgreement(path.string(), true));
    std::filesystem::remove(path);
}

TEST(FfmpegOracleTest, SampleFilesAgreeAfterStartUp) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    size_t compared = 0;
    for (const char* name : {"5644800-2ch-s01-silence.dsf", "empty10ms.dsf", "2822400-1ch-0s-silence.dsf"}) {
        const std::string path = std::string(DSD_TESTDATA_DIR) + "/" + name;
        if (!std::filesystem::exists(path)) continue;
        compared += ExpectAgreement(path, false);
    }
    if (compared == 0) GTEST_SKIP() << "no sample files";
    EXPECT_GT(compared, 3000u);
}

}  // namespace
