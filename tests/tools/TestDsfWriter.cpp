// Layout of the DSF files the generator writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "SignalAnalysis.h"
#include "tools/lib/DsfWriter.h"
#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;
using namespace dsdtest;

namespace {

// A stream whose bytes tell channel and position apart: byte i of channel c
// is (i * 7 + c * 31 + 1) & 0xFF, never a whole run of zeros.
DsdStream PatternStream(uint32_t channels, uint64_t samples) {
    DsdStream s;
    s.rate = kDsd128Rate;
    s.sampleCount = samples;
    s.channels.resize(channels);
    for (uint32_t c = 0; c < channels; ++c) {
        s.channels[c].resize(s.BytesPerChannel());
        for (size_t i = 0; i < s.channels[c].size(); ++i)
            s.channels[c][i] = static_cast<uint8_t>((i * 7 + c * 31 + 1) & 0xFF);
    }
    return s;
}

TEST(DsfWriter, HeaderBlocksAndPadding) {
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        for (uint32_t block : {4096u, 100u, 1u}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, block " + std::to_string(block));
            const uint64_t samples = 8 * 9000 + 5;  // 9001 bytes per channel: a part-filled last block
            const DsdStream s = PatternStream(channels, samples);
            DsfOptions opt;
            opt.blockSize = block;
            const std::vector<uint8_t> f = BuildDsf(s, opt);
            const size_t groups = (9001 + block - 1) / block;
            const uint64_t dataBytes = uint64_t{groups} * block * channels;
            ASSERT_EQ(f.size(), 28 + 52 + 12 + dataBytes);

            EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "DSD ");
            // {offset, width, value} of every header field.
            const uint64_t fields[][3] = {{4, 8, 28},  {12, 8, f.size()},  {20, 8, 0},  {32, 8, 52},
                                          {40, 4, 1},  {44, 4, 0},  {48, 4, DsfChannelType(channels)},
                                          {52, 4, channels},  {56, 4, kDsd128Rate},  {60, 4, 1},
                                          {64, 8, samples},  {72, 4, block},  {76, 4, 0},  {84, 8, 12 + dataBytes}};
            for (const auto& fd : fields) EXPECT_EQ(LoadLE(&f[fd[0]], int(fd[1])), fd[2]) << "offset " << fd[0];
            EXPECT_EQ(std::string(f.begin() + 28, f.begin() + 32), "fmt ");
            const uint8_t* data = &f[80];
            EXPECT_EQ(std::string(data, data + 4), "data");

            // Every byte sits in its channel's block, bit-mirrored; the rest of
            // the last group is zero.
            const uint8_t* audio = data + 12;
            size_t mismatches = 0, nonzeroPad = 0;
            for (size_t g = 0; g < groups; ++g)
                for (uint32_t c = 0; c < channels; ++c)
                    for (size_t k = 0; k < block; ++k) {
                        const size_t i = g * block + k;
                        const uint8_t got = audio[(g * channels + c) * block + k];
                        if (i < 9001)
                            mismatches += got != ReverseBits(s.channels[c][i]);
                        else
                            nonzeroPad += got != 0;
                    }
            EXPECT_EQ(mismatches, 0u);
            EXPECT_EQ(nonzeroPad, 0u);
        }
    }
    EXPECT_EQ(DsfChannelType(5), 6u);
    EXPECT_EQ(DsfChannelType(6), 7u);
    EXPECT_TRUE(BuildDsf(PatternStream(7, 64)).empty());
    EXPECT_TRUE(BuildDsf(PatternStream(0, 64)).empty());
}

TEST(DsfWriter, Id3TagAtMetadataOffset) {
    const std::vector<uint8_t> tag = MakeId3v23Tag({{"TIT2", "Generated tone"}, {"TPE1", "Pr\xC3\xBC" "fer"}}, 10);
    // The frames' encodings are checked by ffprobe below; here the header and its size.
    ASSERT_GE(tag.size(), 10u);
    EXPECT_EQ(std::string(tag.begin(), tag.begin() + 5), std::string("ID3\x03\x00", 5));
    EXPECT_EQ((tag[6] << 21 | tag[7] << 14 | tag[8] << 7 | tag[9]) + 10u, tag.size());

    const DsdStream s = PatternStream(2, 8 * 5000);
    DsfOptions opt;
    opt.tag = tag;
    const std::vector<uint8_t> f = BuildDsf(s, opt);
    const uint64_t meta = LoadLE(&f[20], 8);
    ASSERT_EQ(meta, 28 + 52 + 12 + 2 * 8192u);
    ASSERT_EQ(meta + tag.size(), f.size());
    EXPECT_EQ(LoadLE(&f[12], 8), f.size());
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + static_cast<ptrdiff_t>(meta), f.end()), tag);

    // ffmpeg, as an outside reader, finds the tag through the metadata offset.
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not available";
    const std::string path = TempPath("tagged.dsf");
    ASSERT_TRUE(WriteDsf(path, s, opt));
    EXPECT_EQ(ReadFileBytes(path), f);
    const std::string tags =
        RunCommand("ffprobe -v error -show_entries format_tags=title,artist -of default=nw=1 \"" + path + "\"");
    std::remove(path.c_str());
    EXPECT_NE(tags.find("TAG:title=Generated tone"), std::string::npos) << tags;
    EXPECT_NE(tags.find("TAG:artist=Pr\xC3\xBC" "fer"), std::string::npos) << tags;
}

}  // namespace
