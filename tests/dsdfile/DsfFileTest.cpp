#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "tests/dsdfile/DsdTestSupport.h"

using namespace dsdtest;

namespace {

// The audio of a DSF's data window interleaved by frame: whole groups only,
// trailing zero padding of the final group removed.
Bytes ExpectedNative(const Bytes& audio, size_t channels, size_t block) {
    Bytes out;
    const size_t group = channels * block;
    for (size_t start = 0; start < audio.size(); start += group) {
        // A partial last group: as far as the last channel's block reaches.
        const size_t last = start + (channels - 1) * block;
        size_t frames = start + group <= audio.size() ? block : audio.size() > last ? audio.size() - last : 0;
        if (start + group == audio.size())
            for (size_t c = 0; c < channels; ++c)
                while (frames > 0 && audio[start + c * block + frames - 1] == 0) --frames;
        for (size_t k = 0; k < frames; ++k)
            for (size_t c = 0; c < channels; ++c) out.push_back(audio[start + c * block + k]);
    }
    return out;
}

DsfImage Image(uint32_t channels, uint32_t block, size_t perChannel) {
    DsfImage image;
    image.channels = channels;
    image.blockSize = block;
    image.channelData = PatternData(channels, perChannel);
    return image;
}

}  // namespace

TEST(DsfFile, RealFilesOpenAndDeliverTheirAudioInFrameOrder) {
    const std::tuple<const char*, uint16_t, uint32_t, int64_t> files[] = {
        {"2822400-1ch-0s-silence.dsf", 1, 2822400, 4096}, {"5644800-2ch-s01-silence.dsf", 2, 5644800, 112896},
        {"empty10ms.dsf", 2, 2822400, 8192}, {"with-id3.dsf", 1, 2822400, 0}};
    for (const auto& [name, channels, rate, dataLength] : files) {
        SCOPED_TRACE(name);
        CDSDFile file;
        ASSERT_TRUE(OpenPath(file, TestDataPath(name), kOutputNativeDsd));
        EXPECT_EQ(file.SourceFormat().Channels(), channels);
        EXPECT_EQ(file.OutputFormat().SampleRate(), rate / 8);
        EXPECT_EQ(file.OutputFormat().SubType(), kGuidDsdLsbFirst);
        EXPECT_EQ(file.DataStart(), 92);
        EXPECT_EQ(file.DataLength(), dataLength);
        EXPECT_NEAR(file.GetDuration(), dataLength * 1000.0 / (rate / 8 * channels), 1e-9);
        const auto bytes = ReadBytes(TestDataPath(name));
        EXPECT_EQ(ReadAllBytes(file, 4096), ExpectedNative(Bytes(bytes.begin() + 92, bytes.begin() + 92 + dataLength),
                                                           channels, 4096));
    }
    // The padding of empty10ms holds silence bytes, so its one group is whole;
    // with-id3.dsf carries its tag at the metadata offset.
    CDSDFile file;
    ASSERT_TRUE(OpenPath(file, TestDataPath("empty10ms.dsf"), kOutputNativeDsd));
    EXPECT_EQ(ReadAllBytes(file, 5000).size(), 8192u);
    ASSERT_TRUE(OpenPath(file, TestDataPath("with-id3.dsf"), 0));
    EXPECT_EQ(file.MetadataOffset(), 92u);
}

TEST(DsfFile, NativeDeliveryBlockGroupsTrailingPaddingAndPiecewiseReads) {
    DsfImage image = Image(2, 256, 256 * 3);
    // Channel 0 ends in 100 zero bytes, channel 1 in 40: B - 100 frames remain.
    std::fill(image.channelData[0].end() - 100, image.channelData[0].end(), 0);
    std::fill(image.channelData[1].end() - 40, image.channelData[1].end(), 0);
    const auto bytes = image.Build();
    CDSDFile file;
    ASSERT_TRUE(OpenBytes(file, bytes, kOutputNativeDsd));
    Bytes out(1024 * 2);
    // Less than one group: what was asked, the rest of the group kept for later.
    EXPECT_EQ(file.ReadSamples(out.data(), 255), 510u);
    EXPECT_EQ(file.ReadSamples(out.data(), 1), 2u);
    EXPECT_EQ(out[1], image.channelData[1][255]);
    EXPECT_EQ(file.ReadSamples(out.data(), 1024), 512u + 2u * (256 - 100));
    EXPECT_EQ(file.ReadSamples(out.data(), 1024), 0u);
    // A reader that delivers one byte per call gives the same bytes.
    MemoryReader* reader = nullptr;
    ASSERT_TRUE(OpenBytes(file, bytes, kOutputNativeDsd, KW_T("dsf"), 0, &reader));
    reader->maxRead = 1;
    EXPECT_EQ(ReadAllBytes(file, 256), ExpectedNative(Bytes(bytes.begin() + 92, bytes.end()), 2, 256));

    // A file cut inside its last group plays every channel as far as the
    // last channel's block reaches (here 256 - 10 frames), for every form.
    auto cut = bytes;
    cut.resize(cut.size() - 10);
    ASSERT_TRUE(OpenBytes(file, cut, kOutputNativeDsd));
    const auto partial = ReadAllBytes(file, 256);
    ASSERT_EQ(partial.size(), 2u * (2 * 256 + 246));
    EXPECT_EQ(partial.back(), image.channelData[1][2 * 256 + 245]);
    EXPECT_EQ(partial[2 * 2 * 256], image.channelData[0][2 * 256]);
    ASSERT_TRUE(OpenBytes(file, cut, kOutputPackedDsdA));
    EXPECT_EQ(ReadAllBytes(file, 256).size(), 8u * 2 * (256 + 123));
    // Cut inside channel 0's block: no channel has audio for that group.
    cut.resize(cut.size() - 256);
    ASSERT_TRUE(OpenBytes(file, cut, kOutputNativeDsd));
    EXPECT_EQ(ReadAllBytes(file, 256).size(), 2u * 2 * 256);
    image = Image(40, 16, 16);
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd));
    ASSERT_EQ(file.ReadSamples(out.data(), 16), 40u * 16);
    for (size_t c = 0; c < 40; ++c) EXPECT_EQ(out[5 * 40 + c], image.channelData[c][5]) << c;
}

TEST(DsfFile, LargeRequestsDeliverWhatGroupByGroupReadsDeliver) {
    // A request with room for many groups is served from reads of many groups
    // at once; padding is dropped only from the group that ends the data, and
    // a group cut short plays as far as its last channel reaches.
    struct Case {
        uint32_t channels, block, groups;
        size_t cut;  // bytes cut from the end of the file
    };
    const Case cases[] = {{2, 256, 3, 0}, {2, 256, 3, 10}, {2, 256, 3, 300}, {2, 256, 3, 512},
                          {6, 4096, 25, 0}, {6, 4096, 25, 5000}, {1, 4096, 70, 7}};
    for (const Case& c : cases) {
        DsfImage image = Image(c.channels, c.block, size_t{c.block} * c.groups);
        // Every block ends in zero bytes (audio, but for the data's last group
        // also the padding), more of them at the very end.
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            Bytes& data = image.channelData[ch];
            for (size_t end = c.block; end <= data.size(); end += c.block)
                std::fill(&data[end - 3 - ch], &data[end - 1] + 1, 0);
            std::fill(data.end() - 30 - ch, data.end(), 0);
        }
        auto bytes = image.Build();
        bytes.resize(bytes.size() - c.cut);
        for (uint32_t modes : {kOutputNativeDsd, kOutputPackedDsdA, 0u}) {
            SCOPED_TRACE(::testing::Message() << c.channels << " ch, block " << c.block << ", cut " << c.cut
                                              << ", modes " << modes);
            // A pooled PCM converter keeps its previous user's state until a seek.
            CDSDFile file;
            ASSERT_TRUE(OpenBytes(file, bytes, modes) && file.Seek(0));
            const uint32_t groupFrames = modes == kOutputPackedDsdA ? c.block / 2 : c.block;
            const Bytes byGroup = ReadAllBytes(file, groupFrames);
            if (modes == kOutputNativeDsd) {
                EXPECT_EQ(byGroup, ExpectedNative(Bytes(bytes.begin() + 92, bytes.end()), c.channels, c.block));
            }
            for (uint32_t frames : {groupFrames * (c.groups + 1), groupFrames * 7 / 2}) {
                ASSERT_TRUE(OpenBytes(file, bytes, modes) && file.Seek(0));
                EXPECT_EQ(ReadAllBytes(file, frames), byGroup) << frames;
            }
        }
    }
}

TEST(DsfFile, PackedDeliveryReversesBitsAndPairsBytes) {
    DsfImage image = Image(2, 8, 8);
    image.channelData[0][0] = 0x01;
    image.channelData[0][1] = 0x80;
    CDSDFile file;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputPackedDsdA));
    EXPECT_EQ(file.OutputFormat().SubType(), kGuidPackedDsdA);
    EXPECT_EQ(file.OutputFormat().SampleRate(), 2822400u / 16);
    EXPECT_EQ(file.OutputFormat().BitsPerSample(), 64);
    std::vector<double> samples(2 * 8, -1.0);
    ASSERT_EQ(file.ReadSamples(samples.data(), 3), 3u * 2 * 8);  // fewer than B / 2 frames
    ASSERT_EQ(file.ReadSamples(samples.data() + 6, 4), 1u * 2 * 8);
    // Bytes 0x01, 0x80 reverse to 0x80, 0x01 (the formula itself is checked end to end).
    EXPECT_EQ(samples[0], (0x80 * 256 + 0x01) * std::ldexp(1.0, -23));
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputPackedDsdA | kOutputPackedDsdB));
    EXPECT_EQ(file.OutputFormat().SubType(), kGuidPackedDsdB);
}

TEST(DsfFile, OutputChoiceFollowsModesAndHighestRate) {
    enum Out { kPcm, kNative, kPacked };
    const struct {
        uint32_t rate, modes;
        int32_t highest;
        Out expected;
    } cases[] = {{5644800, kOutputNativeDsd, 2822400, kPcm},
                 {5644800, kOutputNativeDsd, 5644800, kNative},
                 {5644800, kOutputNativeDsd | kOutputPackedDsdA, 2822400, kPcm},
                 {3072000, kOutputPackedDsdA, 0, kPcm},  // packed DSD only at the three standard rates
                 {3072000, kOutputPackedDsdA | kOutputNativeDsd, 0, kNative},
                 {11289600, kOutputPackedDsdB, 0, kPacked}};
    for (const auto& c : cases) {
        DsfImage image = Image(2, 16, 16);
        image.rate = c.rate;
        CDSDFile file;
        ASSERT_TRUE(OpenBytes(file, image.Build(), c.modes, KW_T("dsf"), c.highest));
        const CAudioFormat& out = file.OutputFormat();
        SCOPED_TRACE(testing::Message() << c.rate << " " << c.modes);
        EXPECT_EQ(out.IsNativeDsd(), c.expected == kNative);
        EXPECT_EQ(out.IsPackedDsd(), c.expected == kPacked);
        if (c.expected == kPacked) {
            EXPECT_EQ(out.SampleRate(), c.rate / 16);
        }
        if (c.expected == kPcm) {
            EXPECT_FALSE(out.IsExtensible());
            EXPECT_EQ(out.FormatTag(), kFormatTagIeeeFloat);
            EXPECT_EQ(out.SampleRate(), std::min(c.rate / 8, 705600u));
        }
    }
}

TEST(DsfFile, PcmOutputSeekAndClose) {
    CDSDFile file;
    file.SetAdd6dB(true);
    MemoryReader* reader = nullptr;
    ASSERT_TRUE(OpenBytes(file, Image(2, 64, 64 * 20).Build(), 0, KW_T("dsf"), 0, &reader));
    EXPECT_EQ(file.OutputFormat().SampleRate(), 352800u);
    ASSERT_TRUE(file.Seek(0));  // a pooled converter may carry an earlier file's state
    // A seek restarts the converters: the same position gives the same values.
    std::vector<double> samples(2 * 64, 1e300);
    ASSERT_EQ(file.ReadSamples(samples.data(), 64), 64u * 2 * 8);
    const std::vector<double> first = samples;
    ASSERT_EQ(file.ReadSamples(samples.data(), 64), 64u * 2 * 8);
    // Start, negative and NaN times go to the first group; past the end, nothing.
    for (double start : {0.0, -5.0, std::nan("")}) {
        ASSERT_TRUE(file.Seek(1.0));
        ASSERT_TRUE(file.Seek(start));
        EXPECT_EQ(reader->GetPosition(), 92) << start;
    }
    ASSERT_EQ(file.ReadSamples(samples.data(), 64), 64u * 2 * 8);
    EXPECT_EQ(samples, first);
    ASSERT_TRUE(file.Seek(1e300));
    EXPECT_EQ(file.ReadSamples(samples.data(), 64), 0u);
    reader->SetOpen(false);
    EXPECT_FALSE(file.Seek(0));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(file.ReadSamples(samples.data(), 64), 0u);
    EXPECT_TRUE(file.Add6dB());  // survives Close
}

TEST(DsfFile, HeaderVariants) {
    DsfImage image = Image(2, 16, 32);
    CDSDFile file;
    // A fmt chunk of 60 bytes: 8 bytes are skipped before the data header.
    image.fmtChunkSize = 60;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd));
    EXPECT_EQ(file.DataStart(), 100);
    image.fmtChunkSize = 52;
    // A data chunk claiming more than the file is cut at the file's end.
    image.dataChunkSizeOverride = 1 << 30;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd));
    EXPECT_EQ(file.DataStart() + file.DataLength(), int64_t(image.Build().size()));
    image.dataChunkSizeOverride = 5;  // below its own header: no audio
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd));
    EXPECT_EQ(file.DataLength(), 0);
    // The duration comes from the data length and rate (a large virtual file).
    image.dataChunkSizeOverride = 705600000 + 12;
    ASSERT_TRUE(file.Open(new MemoryReader(image.Build(), 92 + 705600000), 1, kOutputNativeDsd, 0,
                          FileNameOfType(KW_T("dsf"))));
    EXPECT_EQ(file.GetDuration(), 1000000.0);
    // Block size 0 or 1: the data is read byte-interleaved.
    for (uint32_t block : {0u, 1u}) {
        const auto bytes = Image(2, block, 4).Build();
        ASSERT_TRUE(OpenBytes(file, bytes, kOutputNativeDsd));
        EXPECT_EQ(ReadAllBytes(file, 4), Bytes(bytes.begin() + 92, bytes.end()));
    }
}

TEST(DsfFile, RefusesWhatItCannotPlay) {
    const DsfImage good = Image(2, 16, 32);
    CDSDFile file;
    Bytes out(1 << 16);
    // Wrong or missing file type, reader missing or closed.
    for (const KwChar* type : {KW_T("DSF"), static_cast<const KwChar*>(nullptr), KW_T("dff"), KW_T("sacd")})
        EXPECT_FALSE(OpenBytes(file, good.Build(), kOutputNativeDsd, type));
    EXPECT_FALSE(file.Open(nullptr, 1, 0, 0, FileNameOfType(KW_T("dsf"))));
    auto* reader = new MemoryReader(good.Build());
    reader->SetOpen(false);
    EXPECT_FALSE(file.Open(reader, 1, 0, 0, FileNameOfType(KW_T("dsf"))));
    EXPECT_EQ(file.ReadSamples(out.data(), 16), 0u);

    const std::pair<void (*)(DsfImage&), bool> hostile[] = {
        {[](DsfImage& i) { i.channels = 0; }, false},
        {[](DsfImage& i) { i.channels = 65; }, false},
        {[](DsfImage& i) { i.channels = 64; }, true},
        {[](DsfImage& i) { i.rate = 0; }, false},
        {[](DsfImage& i) { i.bits = 0; }, false},
        {[](DsfImage& i) { i.bits = 65; }, false},
        {[](DsfImage& i) { i.blockSizeFieldOverride = 0xFFFFFFFF; }, false},
        {[](DsfImage& i) { i.blockSizeFieldOverride = 0x80000000; }, false},
        {[](DsfImage& i) { i.fmtChunkSize = 40; }, false},
        {[](DsfImage& i) { i.fmtChunkSize = UINT64_MAX; }, false}};
    for (size_t i = 0; i < std::size(hostile); ++i) {
        DsfImage image = good;
        hostile[i].first(image);
        EXPECT_EQ(OpenBytes(file, image.Build(), kOutputNativeDsd), hostile[i].second) << i;
    }
    // Rates outside the DSD family (44.1 or 48 kHz times 64, times 1 to 16) are damage.
    for (uint32_t rate : {1u, 64u, 2822401u, 44100u * 64 * 3, 44100u * 64 * 32, 0xFFFFFFFFu}) {
        DsfImage image = good;
        image.rate = rate;
        EXPECT_FALSE(OpenBytes(file, image.Build(), kOutputNativeDsd)) << rate;
    }
    for (uint32_t rate : {2822400u, 3072000u, 5644800u, 45158400u, 49152000u}) {
        DsfImage image = good;
        image.rate = rate;
        EXPECT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd)) << rate;
    }
    // Every truncation of a valid file either fails to open or reads to an end.
    const auto bytes = good.Build();
    for (size_t size = 0; size <= bytes.size(); ++size)
        for (uint32_t modes : {kOutputNativeDsd, kOutputPackedDsdA}) {
            if (!OpenBytes(file, Bytes(bytes.begin(), bytes.begin() + size), modes)) continue;
            int reads = 0;
            while (file.ReadSamples(out.data(), 64) > 0) ASSERT_LT(++reads, 10);
        }
}

TEST(DsfFile, EightBitSourcesNeverOverrunTheCallersFrames) {
    DsfImage image = Image(2, 64, 64);
    image.bits = 8;
    CDSDFile file;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd));
    Bytes out(2 * 64);
    // 8 frames would be one group's worth of 8-bit bytes but only 8 output frames.
    EXPECT_EQ(file.ReadSamples(out.data(), 8), 16u);
    EXPECT_EQ(file.ReadSamples(out.data(), 64), 112u);
    // Byte-interleaved (block size 0): every output form stays within 4 frames.
    image = Image(1, 0, 256);
    image.bits = 8;
    for (uint32_t modes : {kOutputPackedDsdA, kOutputNativeDsd, 0u}) {
        ASSERT_TRUE(OpenBytes(file, image.Build(), modes));
        Bytes frames(4 * file.OutputFormat().BlockAlign());
        const uint32_t got = file.ReadSamples(frames.data(), 4);
        EXPECT_GT(got, 0u);
        EXPECT_LE(got, frames.size());
    }
}
