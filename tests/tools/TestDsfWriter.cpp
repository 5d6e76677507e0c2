// The DSF header fields and padding that the ffmpeg decode (TestFfmpegDecode)
// does not look at, and the ID3 tag found through the metadata offset.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "SignalAnalysis.h"
#include "tools/lib/DsfWriter.h"
#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;
using namespace dsdtest;

namespace {

TEST(DsfWriter, HeaderFieldsAndZeroPadding) {
    const uint32_t channelTypes[] = {1, 2, 3, 4, 6, 7};
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        for (uint32_t block : {4096u, 100u, 1u}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, block " + std::to_string(block));
            const DsdStream s = MakeIdleStream(channels, kDsd128Rate, 8 * 9000 + 5);  // 9001 bytes per channel
            DsfOptions opt;
            opt.blockSize = block;
            const std::vector<uint8_t> f = BuildDsf(s, opt);
            const size_t groups = (9001 + block - 1) / block;
            const uint64_t dataBytes = uint64_t{groups} * block * channels;
            ASSERT_EQ(f.size(), 28 + 52 + 12 + dataBytes);
            // {offset, width, value}: sizes, no metadata, version, raw DSD, channel type, 1 bit.
            const uint64_t fields[][3] = {{4, 8, 28}, {12, 8, f.size()}, {20, 8, 0}, {32, 8, 52},
                                          {40, 4, 1}, {44, 4, 0}, {48, 4, channelTypes[channels - 1]},
                                          {60, 4, 1}, {76, 4, 0}, {84, 8, 12 + dataBytes}};
            for (const auto& fd : fields) EXPECT_EQ(LoadLE(&f[fd[0]], int(fd[1])), fd[2]) << "offset " << fd[0];
            // The rest of each channel's last block is zero.
            const size_t lastGroup = 92 + (groups - 1) * channels * block;
            size_t nonzeroPad = 0;
            for (uint32_t c = 0; c < channels; ++c)
                for (size_t k = 9001 % block; k && k < block; ++k) nonzeroPad += f[lastGroup + c * block + k] != 0;
            EXPECT_EQ(nonzeroPad, 0u);
        }
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
    ASSERT_EQ(meta, 28 + 52 + 12 + 2 * 8192u);
    ASSERT_EQ(meta + tag.size(), f.size());
    EXPECT_EQ(LoadLE(&f[12], 8), f.size());
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + static_cast<ptrdiff_t>(meta), f.end()), tag);

    // ffmpeg, as an outside reader, finds the tag through the metadata offset
    // and reads both frame encodings (ISO-8859-1 and UTF-16).
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
