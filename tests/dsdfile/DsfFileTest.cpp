#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "dsdfile/CDSDFile.h"
#include "tests/dsdfile/DsfTestSupport.h"

using namespace dsftest;

namespace {

// Opens `bytes` as a DSF through an owned in-memory reader.
bool OpenBytes(CDSDFile& file, std::vector<uint8_t> bytes, uint32_t modes, int32_t highest = 0,
               MemoryReader** readerOut = nullptr) {
    auto* reader = new MemoryReader(std::move(bytes));
    if (readerOut) *readerOut = reader;
    return file.Open(reader, 1, modes, highest, FileNameOfType(KW_T("dsf")));
}

// The audio of a DSF's data window interleaved by frame: whole groups only,
// trailing zero padding of the final group removed.
std::vector<uint8_t> ExpectedNative(const std::vector<uint8_t>& audio, size_t channels, size_t block) {
    std::vector<uint8_t> out;
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

}  // namespace

TEST(DsfFile, RealFilesOpenAndDeliverTheirAudioInFrameOrder) {
    const struct {
        const char* name;
        uint16_t channels;
        uint32_t rate;
        int64_t dataLength;
    } files[] = {{"2822400-1ch-0s-silence.dsf", 1, 2822400, 4096},
                 {"5644800-2ch-s01-silence.dsf", 2, 5644800, 112896},
                 {"empty10ms.dsf", 2, 2822400, 8192},
                 {"with-id3.dsf", 1, 2822400, 0}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        CDSDFile file;
        ASSERT_TRUE(OpenPath(file, TestDataPath(f.name), kOutputNativeDsd));
        EXPECT_EQ(file.SourceFormat().Channels(), f.channels);
        EXPECT_EQ(file.SourceFormat().SampleRate(), f.rate);
        EXPECT_EQ(file.DataStart(), 92);
        EXPECT_EQ(file.DataLength(), f.dataLength);
        EXPECT_EQ(std::memcmp(file.DsfHeader(), "DSD ", 4), 0);
        EXPECT_EQ(file.OutputFormat().SubType(), kGuidDsdLsbFirst);
        EXPECT_EQ(file.OutputFormat().SampleRate(), f.rate / 8);
        EXPECT_NEAR(file.GetDuration(), f.dataLength * 1000.0 / (f.rate / 8 * f.channels), 1e-9);

        const auto bytes = ReadFile(TestDataPath(f.name));
        const std::vector<uint8_t> audio(bytes.begin() + 92, bytes.begin() + 92 + f.dataLength);
        EXPECT_EQ(ReadAllBytes(file, 4096), ExpectedNative(audio, f.channels, 4096));
    }
    // The padding of empty10ms holds silence bytes, so its one group is whole.
    CDSDFile file;
    ASSERT_TRUE(OpenPath(file, TestDataPath("empty10ms.dsf"), kOutputNativeDsd));
    EXPECT_EQ(ReadAllBytes(file, 5000).size(), 8192u);
    // with-id3.dsf carries its tag at the metadata offset.
    ASSERT_TRUE(OpenPath(file, TestDataPath("with-id3.dsf"), 0));
    EXPECT_EQ(file.MetadataOffset(), 92u);
}

TEST(DsfFile, NativeDeliveryBlockGroupsAndTrailingPadding) {
    DsfImage image;
    image.blockSize = 256;
    image.channelData = PatternData(2, 256 * 3);
    // Channel 0 ends in 100 zero bytes, channel 1 in 40: B - 100 frames remain.
    for (size_t k = 256 * 3 - 100; k < 256 * 3; ++k) image.channelData[0][k] = 0;
    for (size_t k = 256 * 3 - 40; k < 256 * 3; ++k) image.channelData[1][k] = 0;
    const auto bytes = image.Build();

    CDSDFile file;
    ASSERT_TRUE(OpenBytes(file, bytes, kOutputNativeDsd));
    std::vector<uint8_t> out(1024 * 2);
    // Less than one group: what was asked, the rest of the group kept for later.
    EXPECT_EQ(file.ReadSamples(out.data(), 255), 510u);
    EXPECT_EQ(out[0], image.channelData[0][0]);
    EXPECT_EQ(out[1], image.channelData[1][0]);
    EXPECT_EQ(file.ReadSamples(out.data(), 1), 2u);
    EXPECT_EQ(out[1], image.channelData[1][255]);
    // The second group and the last one without its padding.
    EXPECT_EQ(file.ReadSamples(out.data(), 1024), 512u + 2u * (256 - 100));
    EXPECT_EQ(file.ReadSamples(out.data(), 1024), 0u);

    // A reader that delivers one byte per call gives the same bytes.
    MemoryReader* reader = nullptr;
    ASSERT_TRUE(OpenBytes(file, bytes, kOutputNativeDsd, 0, &reader));
    reader->maxRead = 1;
    const std::vector<uint8_t> audio(bytes.begin() + 92, bytes.end());
    EXPECT_EQ(ReadAllBytes(file, 256), ExpectedNative(audio, 2, 256));

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
}

TEST(DsfFile, ManyChannelsPassStraightThrough) {
    DsfImage image;
    image.channels = 40;
    image.blockSize = 16;
    image.channelData = PatternData(40, 16);
    CDSDFile file;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd));
    std::vector<uint8_t> out(40 * 16);
    ASSERT_EQ(file.ReadSamples(out.data(), 16), 40u * 16);
    for (size_t c = 0; c < 40; ++c) EXPECT_EQ(out[5 * 40 + c], image.channelData[c][5]) << c;
}

TEST(DsfFile, PackedDeliveryReversesBitsAndPairsBytes) {
    DsfImage image;
    image.blockSize = 8;
    image.channelData = {{0x01, 0x80, 0xFF, 0x00, 1, 2, 3, 4}, {0x80, 0x01, 0x0F, 0xF0, 5, 6, 7, 8}};
    CDSDFile file;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputPackedDsdA));
    const CAudioFormat& out = file.OutputFormat();
    EXPECT_TRUE(out.IsPackedDsd());
    EXPECT_EQ(out.SubType(), kGuidPackedDsdA);
    EXPECT_EQ(out.SampleRate(), 2822400u / 16);
    EXPECT_EQ(out.BitsPerSample(), 64);
    std::vector<double> samples(2 * 8, -1.0);
    ASSERT_EQ(file.ReadSamples(samples.data(), 3), 3u * 2 * 8);  // fewer than B / 2 frames
    ASSERT_EQ(file.ReadSamples(samples.data() + 6, 4), 1u * 2 * 8);
    // Bytes 0x01, 0x80 reverse to 0x80, 0x01 (the formula itself is checked end to end).
    EXPECT_EQ(samples[0], (0x80 * 256 + 0x01) * std::ldexp(1.0, -23));

    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputPackedDsdA | kOutputPackedDsdB));
    EXPECT_EQ(file.OutputFormat().SubType(), kGuidPackedDsdB);
}

TEST(DsfFile, OutputChoiceFollowsModesAndHighestRate) {
    DsfImage image;
    image.blockSize = 16;
    image.channelData = PatternData(2, 16);
    CDSDFile file;

    image.rate = 5644800;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd, 2822400));
    EXPECT_FALSE(file.OutputFormat().IsExtensible());
    EXPECT_EQ(file.OutputFormat().FormatTag(), kFormatTagIeeeFloat);
    EXPECT_EQ(file.OutputFormat().SampleRate(), 705600u);
    EXPECT_EQ(file.OutputFormat().BitsPerSample(), 64);
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd, 5644800));
    EXPECT_TRUE(file.OutputFormat().IsNativeDsd());
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd | kOutputPackedDsdA, 2822400));
    EXPECT_FALSE(file.OutputFormat().IsPackedDsd());

    // Packed DSD only at the three standard rates.
    image.rate = 3072000;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputPackedDsdA));
    EXPECT_EQ(file.OutputFormat().FormatTag(), kFormatTagIeeeFloat);
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputPackedDsdA | kOutputNativeDsd));
    EXPECT_TRUE(file.OutputFormat().IsNativeDsd());
    image.rate = 11289600;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputPackedDsdB));
    EXPECT_EQ(file.OutputFormat().SampleRate(), 705600u);
}

TEST(DsfFile, PcmOutputDeliversDoublesPerFrame) {
    DsfImage image;
    image.blockSize = 64;
    image.channelData = PatternData(2, 128);
    CDSDFile file;
    file.SetAdd6dB(true);
    ASSERT_TRUE(OpenBytes(file, image.Build(), 0));
    EXPECT_TRUE(file.Add6dB());
    EXPECT_EQ(file.OutputFormat().SampleRate(), 352800u);
    // A seek restarts the converters: the same position gives the same values.
    std::vector<double> samples(2 * 64, 1e300);
    ASSERT_EQ(file.ReadSamples(samples.data(), 64), 64u * 2 * 8);
    const std::vector<double> first = samples;
    ASSERT_EQ(file.ReadSamples(samples.data(), 64), 64u * 2 * 8);
    EXPECT_TRUE(file.Seek(0));
    ASSERT_EQ(file.ReadSamples(samples.data(), 64), 64u * 2 * 8);
    EXPECT_EQ(samples, first);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(file.ReadSamples(samples.data(), 64), 0u);
    EXPECT_TRUE(file.Add6dB());  // survives Close
}

TEST(DsfFile, SeekPlacesTheReaderOnAGroupBoundary) {
    DsfImage image;
    image.blockSize = 4096;
    image.channelData = PatternData(2, 4096 * 20);
    const auto bytes = image.Build();
    CDSDFile file;
    MemoryReader* reader = nullptr;
    ASSERT_TRUE(OpenBytes(file, bytes, kOutputNativeDsd, 0, &reader));
    EXPECT_EQ(reader->GetPosition(), 92);

    // 100 ms at 705600 bytes per second is byte 70560, group 8 (65536); the
    // bytes from there are checked end to end.
    ASSERT_TRUE(file.Seek(100.0));
    EXPECT_EQ(reader->GetPosition(), 92 + 65536);
    std::vector<uint8_t> out(2 * 4096);
    for (double start : {0.0, -5.0, std::nan("")}) {
        ASSERT_TRUE(file.Seek(100.0));
        ASSERT_TRUE(file.Seek(start));
        EXPECT_EQ(reader->GetPosition(), 92) << start;
    }
    ASSERT_TRUE(file.Seek(1e300));
    EXPECT_EQ(file.ReadSamples(out.data(), 4096), 0u);

    reader->SetOpen(false);
    EXPECT_FALSE(file.Seek(0));
    EXPECT_EQ(file.ReadSamples(out.data(), 4096), 0u);
}

TEST(DsfFile, DurationFromDataLengthAndRate) {
    DsfImage image;
    image.channelData = PatternData(2, 4096);
    image.dataChunkSizeOverride = 705600000 + 12;
    auto bytes = image.Build();
    // A large file without the memory: the reader reports the full size.
    auto* reader = new MemoryReader(bytes, 92 + 705600000);
    CDSDFile file;
    ASSERT_TRUE(file.Open(reader, 1, kOutputNativeDsd, 0, FileNameOfType(KW_T("dsf"))));
    EXPECT_EQ(file.GetDuration(), 1000000.0);
}

TEST(DsfFile, HeaderVariants) {
    DsfImage image;
    image.blockSize = 16;
    image.channelData = PatternData(2, 32);
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
    image.dataChunkSizeOverride = -1;

    // Block size 0 or 1: the data is read byte-interleaved.
    for (uint32_t block : {0u, 1u}) {
        image.blockSize = block;
        image.channelData = {{1, 2, 3, 4}, {5, 6, 7, 8}};
        const auto bytes = image.Build();
        ASSERT_TRUE(OpenBytes(file, bytes, kOutputNativeDsd));
        std::vector<uint8_t> out(8);
        ASSERT_EQ(file.ReadSamples(out.data(), 4), 8u);
        EXPECT_EQ(out, std::vector<uint8_t>(bytes.begin() + 92, bytes.end()));
    }
}

TEST(DsfFile, RefusesWhatItCannotPlay) {
    DsfImage good;
    good.blockSize = 16;
    good.channelData = PatternData(2, 32);
    CDSDFile file;
    std::vector<uint8_t> out(1 << 16);

    // Wrong or missing file type, reader missing or closed.
    auto* reader = new MemoryReader(good.Build());
    EXPECT_FALSE(file.Open(reader, 1, kOutputNativeDsd, 0, FileNameOfType(KW_T("DSF"))));
    EXPECT_FALSE(file.Open(new MemoryReader(good.Build()), 1, 0, 0, FileNameOfType(nullptr)));
    EXPECT_FALSE(file.Open(nullptr, 1, 0, 0, FileNameOfType(KW_T("dsf"))));
    reader = new MemoryReader(good.Build());
    reader->SetOpen(false);
    EXPECT_FALSE(file.Open(reader, 1, 0, 0, FileNameOfType(KW_T("dsf"))));
    EXPECT_EQ(file.ReadSamples(out.data(), 16), 0u);
    EXPECT_FALSE(file.Open(new MemoryReader(good.Build()), 1, 0, 0, FileNameOfType(KW_T("dff"))));
    EXPECT_FALSE(file.Open(new MemoryReader(good.Build()), 1, 0, 0, FileNameOfType(KW_T("sacd"))));

    const auto hostile = [&](auto change) {
        DsfImage image = good;
        change(image);
        return OpenBytes(file, image.Build(), kOutputNativeDsd);
    };
    EXPECT_FALSE(hostile([](DsfImage& i) { i.channels = 0; }));
    EXPECT_FALSE(hostile([](DsfImage& i) { i.channels = 65; }));
    // Rates outside the DSD family (64 or 48 kHz times 64, times 1 to 16) are damage.
    for (uint32_t rate : {0u, 1u, 64u, 2822401u, 44100u * 64 * 3, 44100u * 64 * 32, 0xFFFFFFFFu})
        EXPECT_FALSE(hostile([rate](DsfImage& i) { i.rate = rate; })) << rate;
    for (uint32_t rate : {2822400u, 3072000u, 5644800u, 45158400u, 49152000u})
        EXPECT_TRUE(hostile([rate](DsfImage& i) { i.rate = rate; })) << rate;
    EXPECT_FALSE(hostile([](DsfImage& i) { i.bits = 0; }));
    EXPECT_FALSE(hostile([](DsfImage& i) { i.bits = 65; }));
    EXPECT_FALSE(hostile([](DsfImage& i) { i.blockSizeFieldOverride = 0xFFFFFFFF; }));
    EXPECT_FALSE(hostile([](DsfImage& i) { i.blockSizeFieldOverride = 0x80000000; }));
    EXPECT_FALSE(hostile([](DsfImage& i) { i.fmtChunkSize = 40; }));
    EXPECT_FALSE(hostile([](DsfImage& i) { i.fmtChunkSize = UINT64_MAX; }));
    EXPECT_TRUE(hostile([](DsfImage& i) { i.channels = 64; }));

    // Every truncation of a valid file either fails to open or reads to an end.
    const auto bytes = good.Build();
    for (size_t size = 0; size <= bytes.size(); ++size) {
        const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + size);
        for (uint32_t modes : {kOutputNativeDsd, kOutputPackedDsdA}) {
            if (!OpenBytes(file, cut, modes)) continue;
            int reads = 0;
            while (file.ReadSamples(out.data(), 64) > 0) ASSERT_LT(++reads, 10);
            EXPECT_GE(file.GetDuration(), 0.0);
        }
    }
}

TEST(DsfFile, EightBitSourcesNeverOverrunTheCallersFrames) {
    DsfImage image;
    image.bits = 8;
    image.blockSize = 64;
    image.channelData = PatternData(2, 64);
    CDSDFile file;
    ASSERT_TRUE(OpenBytes(file, image.Build(), kOutputNativeDsd));
    std::vector<uint8_t> out(2 * 64);
    // 8 frames would be one group's worth of 8-bit bytes but only 8 output frames.
    EXPECT_EQ(file.ReadSamples(out.data(), 8), 16u);
    EXPECT_EQ(file.ReadSamples(out.data(), 64), 112u);

    // Byte-interleaved (block size 0): every output form stays within 4 frames.
    image.channels = 1;
    image.blockSize = 0;
    image.channelData = PatternData(1, 256);
    for (uint32_t modes : {kOutputPackedDsdA, kOutputNativeDsd, 0u}) {
        ASSERT_TRUE(OpenBytes(file, image.Build(), modes));
        std::vector<uint8_t> frames(4 * file.OutputFormat().BlockAlign());
        const uint32_t got = file.ReadSamples(frames.data(), 4);
        EXPECT_GT(got, 0u);
        EXPECT_LE(got, frames.size());
    }
}
