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
            EXPECT_EQ(LoadLE(&f[4], 8), 28u);
            EXPECT_EQ(LoadLE(&f[12], 8), f.size());
            EXPECT_EQ(LoadLE(&f[20], 8), 0u);  // no tag
            const uint8_t* fmt = &f[28];
            EXPECT_EQ(std::string(fmt, fmt + 4), "fmt ");
            EXPECT_EQ(LoadLE(fmt + 4, 8), 52u);
            EXPECT_EQ(LoadLE(fmt + 12, 4), 1u);
            EXPECT_EQ(LoadLE(fmt + 16, 4), 0u);
            EXPECT_EQ(LoadLE(fmt + 20, 4), DsfChannelType(channels));
            EXPECT_EQ(LoadLE(fmt + 24, 4), channels);
            EXPECT_EQ(LoadLE(fmt + 28, 4), kDsd128Rate);
            EXPECT_EQ(LoadLE(fmt + 32, 4), 1u);
            EXPECT_EQ(LoadLE(fmt + 36, 8), samples);
            EXPECT_EQ(LoadLE(fmt + 44, 4), block);
            EXPECT_EQ(LoadLE(fmt + 48, 4), 0u);
            const uint8_t* data = &f[80];
            EXPECT_EQ(std::string(data, data + 4), "data");
            EXPECT_EQ(LoadLE(data + 4, 8), 12 + dataBytes);

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
    // Header, then "TIT2" with a Latin-1 text and "TPE1" with UTF-16 and BOM.
    ASSERT_GE(tag.size(), 10u);
    EXPECT_EQ(std::string(tag.begin(), tag.begin() + 5), std::string("ID3\x03\x00", 5));
    const uint32_t size = tag[6] << 21 | tag[7] << 14 | tag[8] << 7 | tag[9];
    EXPECT_EQ(size + 10, tag.size());
    EXPECT_EQ(std::string(tag.begin() + 10, tag.begin() + 14), "TIT2");
    EXPECT_EQ(LoadBE(&tag[14], 4), 15u);
    EXPECT_EQ(tag[20], 0);
    EXPECT_EQ(std::string(tag.begin() + 21, tag.begin() + 35), "Generated tone");
    EXPECT_EQ(std::string(tag.begin() + 35, tag.begin() + 39), "TPE1");
    EXPECT_EQ(LoadBE(&tag[39], 4), 1u + 2 + 12);
    EXPECT_EQ(tag[45], 1);
    EXPECT_EQ(tag[46], 0xFF);
    EXPECT_EQ(tag[47], 0xFE);
    EXPECT_EQ(tag[50], 'r');
    EXPECT_EQ(tag[52], 0xFC);  // u-umlaut as one UTF-16 unit
    EXPECT_EQ(tag.size(), 60u + 10);

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
