// What the ffmpeg decode (TestFfmpegDecode, and dsdgen's test for other block
// sizes) does not see in the DSF files the generator writes: the channel type,
// the zero padding of the last block, and the ID3 tag found through the
// metadata offset.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "SignalAnalysis.h"
#include "tests/e2e/E2eSupport.h"
#include "tools/lib/DsfWriter.h"
#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;
using namespace dsdtest;

namespace {

TEST(DsfWriter, ChannelTypesAndZeroPadding) {
    const uint32_t channelTypes[] = {1, 2, 3, 4, 6, 7};
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        // 9001 bytes per channel: three blocks of 4096, the last one part-filled.
        const std::vector<uint8_t> f = BuildDsf(MakeIdleStream(channels, kDsd128Rate, 8 * 9000 + 5));
        ASSERT_EQ(f.size(), 92u + 3 * 4096 * channels);
        EXPECT_EQ(LoadLE(&f[48], 4), channelTypes[channels - 1]);
        EXPECT_EQ(LoadLE(&f[12], 8), f.size());
        size_t nonzeroPad = 0;
        for (uint32_t c = 0; c < channels; ++c)
            for (size_t k = 9001 - 2 * 4096; k < 4096; ++k) nonzeroPad += f[92 + (2 * channels + c) * 4096 + k] != 0;
        EXPECT_EQ(nonzeroPad, 0u) << channels;
    }
    EXPECT_TRUE(BuildDsf(MakeIdleStream(7, kDsd64Rate, 64)).empty());
    EXPECT_TRUE(BuildDsf(MakeIdleStream(0, kDsd64Rate, 64)).empty());
}

TEST(DsfWriter, Id3TagAtMetadataOffset) {
    const std::vector<uint8_t> tag = MakeId3v23Tag({{"TIT2", "Generated tone"}, {"TPE1", "Pr\xC3\xBC" "fer"}}, 10);
    const DsdStream s = MakeIdleStream(2, kDsd128Rate, 8 * 5000);
    DsfOptions opt;
    opt.tag = tag;
    const std::vector<uint8_t> f = BuildDsf(s, opt);
    const uint64_t meta = LoadLE(&f[20], 8);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + static_cast<ptrdiff_t>(meta), f.end()), tag);
    // ffmpeg, as an outside reader, finds the tag through the metadata offset
    // and reads both frame encodings (ISO-8859-1 and UTF-16).
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not available";
    const std::string path = TempPath("tagged.dsf");
    ASSERT_TRUE(WriteDsf(path, s, opt));
    const std::string tags =
        RunCommand("ffprobe -v error -show_entries format_tags=title,artist -of default=nw=1 \"" + path + "\"");
    std::remove(path.c_str());
    EXPECT_NE(tags.find("TAG:title=Generated tone"), std::string::npos) << tags;
    EXPECT_NE(tags.find("TAG:artist=Pr\xC3\xBC" "fer"), std::string::npos) << tags;
}

}  // namespace
