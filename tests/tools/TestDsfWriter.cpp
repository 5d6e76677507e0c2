// What the ffmpeg decode (TestFfmpegDecode) does not see in the DSF files the
// generator writes: the ID3 tag at the metadata offset, in both text encodings.
#include <gtest/gtest.h>

#include <string>

#include "SignalAnalysis.h"
#include "tests/e2e/E2eSupport.h"
#include "tools/lib/DsfWriter.h"
#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;
using namespace dsdtest;

namespace {

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
    EXPECT_NE(tags.find("TAG:title=Generated tone"), std::string::npos) << tags;
    EXPECT_NE(tags.find("TAG:artist=Pr\xC3\xBC" "fer"), std::string::npos) << tags;
}

}  // namespace
