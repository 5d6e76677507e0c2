// DSF files played through the plug-in's real entry by the command-line host.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/e2e/E2eSupport.h"

namespace {

using namespace e2e;

// What native delivery of a DSF must give: the file's bytes (least
// significant bit first) interleaved by frame, with the zero padding of the
// last block group removed channel by channel as the player does.
std::vector<uint8_t> ExpectedNative(const dsdtools::DsdStream& stream, uint32_t block, uint32_t outChannels,
                                    const std::vector<int>& sourceOfSlot) {
    const size_t cs = stream.ChannelCount();
    const size_t bytes = stream.BytesPerChannel();
    const size_t groups = (bytes + block - 1) / block;
    std::vector<uint8_t> out;
    for (size_t g = 0; g < groups; ++g) {
        auto byteAt = [&](size_t c, size_t k) -> uint8_t {
            const size_t i = g * block + k;
            return i < bytes ? dsdtools::ReverseBits(stream.channels[c][i]) : 0;
        };
        size_t frames = block;
        if (g + 1 == groups)
            for (size_t c = 0; c < cs; ++c)
                while (frames > 0 && byteAt(c, frames - 1) == 0) --frames;
        for (size_t k = 0; k < frames; ++k)
            for (uint32_t slot = 0; slot < outChannels; ++slot)
                out.push_back(sourceOfSlot[slot] < 0 ? 0x69 : byteAt(static_cast<size_t>(sourceOfSlot[slot]), k));
    }
    return out;
}

struct Shape {
    uint32_t channels;
    uint32_t rate;
};

class DsfNative : public ::testing::TestWithParam<Shape> {};

TEST_P(DsfNative, DeliversTheAudioBytesAndItsDsdiffDecodesLikeTheOriginal) {
    const Shape shape = GetParam();
    Workspace ws;
    // A length that leaves the last block group partly padded.
    const uint64_t samples = uint64_t{shape.rate} / 10 + 8 * 1234;
    const auto stream = Tones(shape.channels, shape.rate, samples);
    ASSERT_EQ(stream.clampCount, 0u);
    const fs::path dsf = ws / "in.dsf";
    ASSERT_TRUE(dsdtools::WriteDsf(dsf.string(), stream));

    ASSERT_EQ(RunCommand(Bin("dsdhost") + " decode --output native " + Quote(dsf) + " " + Quote(ws / "out.raw")), 0);
    // Five channels are announced as six; the low-frequency slot (3) has no source.
    const uint32_t outChannels = shape.channels == 5 ? 6 : shape.channels;
    std::vector<int> sources;
    for (uint32_t c = 0; c < shape.channels; ++c) sources.push_back(static_cast<int>(c));
    if (shape.channels == 5) sources = {0, 1, 2, -1, 3, 4};
    const auto expected = ExpectedNative(stream, 4096, outChannels, sources);
    const auto delivered = ReadBytes(ws / "out.raw");
    ASSERT_EQ(delivered.size(), expected.size());
    EXPECT_TRUE(delivered == expected);

    if (shape.channels == 5) return;  // the .dff would hold six channels; compared above
    ASSERT_EQ(RunCommand(Bin("dsdhost") + " decode --output native " + Quote(dsf) + " " + Quote(ws / "out.dff")), 0);
    const auto original = FfmpegPcm(dsf);
    const auto copy = FfmpegPcm(ws / "out.dff");
    ASSERT_FALSE(original.empty());
    ASSERT_EQ(copy.size(), original.size());
    // ffmpeg's two decoders start from different filter histories: compare after start-up.
    const size_t skip = 16 * shape.channels;
    size_t differing = 0;
    for (size_t i = skip; i < copy.size(); ++i) differing += copy[i] != original[i];
    EXPECT_EQ(differing, 0u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, DsfNative,
                         ::testing::Values(Shape{1, 2822400}, Shape{2, 2822400}, Shape{5, 2822400},
                                           Shape{6, 2822400}, Shape{1, 5644800}, Shape{2, 5644800},
                                           Shape{5, 5644800}, Shape{6, 5644800}),
                         [](const auto& info) {
                             return std::to_string(info.param.channels) + "ch_" + std::to_string(info.param.rate);
                         });

TEST(DsfPlayback, SeekingStartsAtTheBlockGroupOfThatTime) {
    Workspace ws;
    const auto stream = Tones(2, 2822400, 2822400 / 2);
    const fs::path dsf = ws / "in.dsf";
    ASSERT_TRUE(dsdtools::WriteDsf(dsf.string(), stream));
    ASSERT_EQ(RunCommand(Bin("dsdhost") + " decode --output native --seek 100 " + Quote(dsf) + " " + Quote(ws / "s.raw")),
              0);
    const auto expected = ExpectedNative(stream, 4096, 2, {0, 1});
    const auto delivered = ReadBytes(ws / "s.raw");
    // 100 ms of stereo DSD64 is 70560 bytes, rounded down to a group of 2 x 4096 bytes.
    const size_t start = 65536;
    ASSERT_EQ(delivered.size(), expected.size() - start);
    EXPECT_TRUE(std::equal(delivered.begin(), delivered.end(), expected.begin() + start));
}

TEST(DsfPlayback, BadFilesFailWithAMessage) {
    Workspace ws;
    const fs::path junk = ws / "junk.dsf";
    std::ofstream(junk) << "DSD not really";
    EXPECT_EQ(RunCommand(Bin("dsdhost") + " decode --output native " + Quote(junk) + " - >/dev/null 2>&1"), 1);
    EXPECT_EQ(RunCommand(Bin("dsdhost") + " info " + Quote(ws / "missing.dsf") + " >/dev/null 2>&1"), 1);
}

}  // namespace
