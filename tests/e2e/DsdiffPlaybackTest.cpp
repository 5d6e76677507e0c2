// Plain and DST-coded DSDIFF files played through the plug-in's real entry by
// the command-line host, in native, packed and PCM output. (Seeking to
// frame boundaries is checked on the file object.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/e2e/E2eSupport.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/DstEncoder.h"

namespace {

using namespace e2e;

// Five channels are delivered as six with the silence byte in slot 3.
std::vector<uint8_t> AsDelivered(const std::vector<uint8_t>& interleaved, size_t channels) {
    std::vector<uint8_t> out;
    for (size_t k = 0; k + channels <= interleaved.size(); k += channels) {
        for (size_t c = 0; c < channels; ++c) {
            if (channels == 5 && c == 3) out.push_back(0x69);
            out.push_back(interleaved[k + c]);
        }
    }
    return out;
}

std::string Decode(const std::string& output, const fs::path& in, const fs::path& out, double seekMs = 0) {
    std::string command = Bin("dsdhost") + " decode --output " + output;
    if (seekMs > 0) command += " --seek " + std::to_string(seekMs);
    return command + " " + Quote(in) + " " + Quote(out);
}

// Packed delivery: consecutive byte pairs of each channel, no bit reversal.
void ExpectPacked(const std::vector<uint8_t>& raw, const std::vector<uint8_t>& interleaved, size_t channels) {
    ASSERT_EQ(raw.size() % (8 * channels), 0u);
    const size_t frames = raw.size() / 8 / channels;
    ASSERT_EQ(frames, interleaved.size() / channels / 2);
    for (size_t p = 0; p < frames; ++p)
        for (size_t c = 0; c < channels; ++c) {
            double sample;
            std::memcpy(&sample, raw.data() + (p * channels + c) * 8, 8);
            const double b1 = interleaved[2 * p * channels + c], b2 = interleaved[(2 * p + 1) * channels + c];
            ASSERT_EQ(sample, (b1 * 256 + b2) * std::ldexp(1.0, -23)) << p << " " << c;
        }
}

TEST(DsdiffPlayback, PlainFilesInEveryForm) {
    for (uint32_t channels : {2u, 5u}) {
        SCOPED_TRACE(channels);
        Workspace ws;
        // Whole DSF block groups, so that the DSF of the same audio has no padding.
        const auto stream = Tones(channels, dsdtools::kDsd64Rate, 8 * 4096 * 9);
        ASSERT_EQ(stream.clampCount, 0u);
        const auto interleaved = Interleave(stream);
        const fs::path dff = ws / "in.dff", dsf = ws / "in.dsf";
        ASSERT_TRUE(dsdtools::WriteDsdiff(dff.string(), stream));
        ASSERT_TRUE(dsdtools::WriteDsf(dsf.string(), stream));

        ASSERT_EQ(RunCommand(Decode("native", dff, ws / "n.raw")), 0);
        EXPECT_TRUE(ReadBytes(ws / "n.raw") == AsDelivered(interleaved, channels));

        ASSERT_EQ(RunCommand(Decode("packed", dff, ws / "p.raw")), 0);
        ExpectPacked(ReadBytes(ws / "p.raw"), interleaved, channels);

        // Same bits, same PCM, whatever the container's bit order.
        ASSERT_EQ(RunCommand(Decode("pcm", dff, ws / "a.raw")), 0);
        ASSERT_EQ(RunCommand(Decode("pcm", dsf, ws / "b.raw")), 0);
        const auto fromDff = ReadBytes(ws / "a.raw");
        ASSERT_EQ(fromDff.size(), interleaved.size() * 8);
        EXPECT_TRUE(fromDff == ReadBytes(ws / "b.raw"));
    }
}

TEST(DsdiffPlayback, DstFilesPlayTheOriginalBits) {
    Workspace ws;
    const uint32_t channels = 2, frames = 80;
    const size_t frameBytes = channels * (dsdtools::kDsd64Rate / 600);
    const auto stream = Tones(channels, dsdtools::kDsd64Rate, uint64_t{frames} * frameBytes / channels * 8);
    const auto interleaved = Interleave(stream);
    dsdtools::DstEncoderOptions options;
    options.maxOrder = 32;
    const auto coded = dsdtools::DstEncodeStream(interleaved.data(), interleaved.size(), channels,
                                                 dsdtools::kDsd64Rate, options);
    ASSERT_EQ(coded.size(), frames);
    const fs::path dst = ws / "dst.dff", plain = ws / "plain.dff";
    ASSERT_TRUE(dsdtools::WriteDsdiffDst(dst.string(), channels, dsdtools::kDsd64Rate, coded));
    ASSERT_TRUE(dsdtools::WriteDsdiff(plain.string(), stream));
    ASSERT_LT(fs::file_size(dst), fs::file_size(plain));

    ASSERT_EQ(RunCommand(Decode("native", dst, ws / "n.raw")), 0);
    EXPECT_TRUE(ReadBytes(ws / "n.raw") == interleaved);
    ASSERT_EQ(RunCommand(Decode("packed", dst, ws / "p.raw")), 0);
    ExpectPacked(ReadBytes(ws / "p.raw"), interleaved, channels);
    ASSERT_EQ(RunCommand(Decode("pcm", dst, ws / "a.raw", 200)), 0);
    ASSERT_EQ(RunCommand(Decode("pcm", plain, ws / "b.raw", 200)), 0);
    const auto pcm = ReadBytes(ws / "a.raw");
    ASSERT_FALSE(pcm.empty());
    // 200 ms lands on frame 15 in the DST file and on byte 141120 (frame 15) in the plain one.
    EXPECT_EQ(pcm.size(), (interleaved.size() - 15 * frameBytes) * 8);
    EXPECT_TRUE(pcm == ReadBytes(ws / "b.raw"));

    // An independent decoder hears the same audio in both files.
    const auto fromDst = FfmpegPcm(dst);
    const auto fromPlain = FfmpegPcm(plain);
    ASSERT_FALSE(fromPlain.empty());
    EXPECT_TRUE(fromDst == fromPlain);
}

TEST(Playback, RealFileAndRefusedFiles) {
    Workspace ws;
    const fs::path data(DSD_TESTDATA_DIR);
    ASSERT_EQ(RunCommand(Decode("native", data / "empty10ms.dff", ws / "n.raw")), 0);
    const auto file = ReadBytes(data / "empty10ms.dff");
    EXPECT_TRUE(ReadBytes(ws / "n.raw") == std::vector<uint8_t>(file.end() - 7056, file.end()));
    // A "DST " chunk that holds no frames; a DSF that is not one.
    std::ofstream(ws / "junk.dsf") << "DSD not really";
    for (const fs::path& bad : {data / "5644800-2ch-s01-silence-dst.dff", ws / "junk.dsf"})
        EXPECT_EQ(RunCommand(Decode("native", bad, "-") + " >/dev/null 2>&1"), 1) << bad;
}

}  // namespace
