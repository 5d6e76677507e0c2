// Black-box check against an independent DST decoder: ffmpeg must turn our
// DST-compressed DSDIFF into exactly the PCM it makes from the plain original.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "tests/dst/DstTestUtil.h"
#include "tests/e2e/E2eSupport.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/DstEncoder.h"

namespace {

std::string TempPath(const std::string& name) {
    return testing::TempDir() + "dst_oracle_" + std::to_string(getpid()) + "_" + name;
}

}  // namespace

TEST(DstOracle, FfmpegDecodesOurFramesLikeTheOriginal) {
    if (e2e::RunCommand("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    struct Case {
        int32_t channels;
        uint32_t rate;
        dsdtools::DstEncoderOptions options;
    };
    // ffmpeg's decoder refuses frames with more than one segment, and its
    // output for uncoded frames differs from the plain original, so the
    // comparison covers coded single-segment frames with every other feature.
    dsdtools::DstEncoderOptions base;
    base.filterSegments = 1;
    base.tableSegments = -1;
    base.uncoded = 0;
    std::vector<Case> cases;
    for (int32_t ch : {1, 2, 6}) cases.push_back({ch, dsdtools::kDsd64Rate, base});
    cases.push_back({2, dsdtools::kDsd128Rate, base});
    cases.push_back({1, dsdtools::kDsd256Rate, base});
    auto with = [&](void (*set)(dsdtools::DstEncoderOptions&), int32_t ch) {
        dsdtools::DstEncoderOptions o = base;
        o.maxOrder = 64;
        set(o);
        cases.push_back({ch, dsdtools::kDsd64Rate, o});
    };
    with([](dsdtools::DstEncoderOptions& o) { o.sharedMapping = 1; }, 3);
    with([](dsdtools::DstEncoderOptions& o) { o.sharedMapping = 0; o.tablesUseFilterMapping = 0; }, 2);
    with([](dsdtools::DstEncoderOptions& o) { o.codedFilters = 1; o.codedTables = 1; o.method = 0; }, 2);
    with([](dsdtools::DstEncoderOptions& o) { o.codedFilters = 1; o.codedTables = 1; o.method = 1; }, 2);
    with([](dsdtools::DstEncoderOptions& o) { o.codedFilters = 1; o.codedTables = 1; o.method = 2; }, 2);
    with([](dsdtools::DstEncoderOptions& o) { o.codedFilters = 0; o.codedTables = 0; o.halfProb = 1; }, 2);
    with([](dsdtools::DstEncoderOptions& o) { o.fixedOrder = 128; o.maxTableLength = 2; }, 1);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << c.channels << " channels at " << c.rate);
        const int32_t frames = 4;
        dsdtools::DsdStream stream;
        const std::vector<uint8_t> dsd = dsttest::MakeSignal(c.channels, c.rate, frames, false, &stream);
        std::vector<dsdtools::DstFrameStats> stats;
        const auto coded = dsdtools::DstEncodeStream(dsd.data(), dsd.size(), c.channels, static_cast<int32_t>(c.rate),
                                                     c.options, &stats);
        ASSERT_EQ(coded.size(), static_cast<size_t>(frames));
        EXPECT_TRUE(stats[0].coded);

        const std::string plain = TempPath("plain.dff");
        const std::string dst = TempPath("dst.dff");
        ASSERT_TRUE(dsdtools::WriteDsdiff(plain, stream));
        ASSERT_TRUE(dsdtools::WriteDsdiffDst(dst, static_cast<uint32_t>(c.channels), c.rate, coded));
        const auto a = e2e::FfmpegPcm(plain);
        const auto b = e2e::FfmpegPcm(dst);
        std::remove(plain.c_str());
        std::remove(dst.c_str());
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(a.size(), b.size());
        EXPECT_TRUE(a == b) << "PCM differs";
    }
}
