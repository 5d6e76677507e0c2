// Every frame the encoder writes must decode to exactly the input bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/dst/DstTestUtil.h"
#include "tools/lib/DstEncoder.h"

using dsdtools::DstEncoder;
using dsdtools::DstEncoderOptions;
using dsdtools::DstFrameStats;
using namespace dsttest;

namespace {

// Encodes `frames` frames and checks each decodes back; returns the coded size.
size_t RoundTrip(int32_t channels, uint32_t rate, int32_t frames, const DstEncoderOptions& options,
                 std::vector<DstFrameStats>* stats = nullptr, bool idle = false) {
    const std::vector<uint8_t> input = MakeSignal(channels, rate, frames, idle);
    DstEncoder encoder(channels, static_cast<int32_t>(rate), options);
    EXPECT_TRUE(encoder.Valid());
    Decoder decoder(channels, static_cast<int32_t>(rate));
    EXPECT_EQ(decoder.initResult, 0);
    EXPECT_EQ(decoder.FrameBytes(), encoder.FrameBytes());
    size_t coded = 0;
    std::vector<uint8_t> out;
    for (int32_t f = 0; f < frames; ++f) {
        const uint8_t* in = input.data() + f * encoder.FrameBytes();
        const std::vector<uint8_t> frame = encoder.EncodeFrame(in);
        coded += frame.size();
        if (stats) stats->push_back(encoder.LastStats());
        EXPECT_EQ(decoder.Decode(frame, out), 0) << "frame " << f;
        EXPECT_TRUE(std::equal(out.begin(), out.end(), in)) << "frame " << f << " differs";
    }
    return coded;
}

}  // namespace

TEST(DstRoundTrip, ChannelsAndRates) {
    for (uint32_t rate : {dsdtools::kDsd64Rate, dsdtools::kDsd128Rate, dsdtools::kDsd256Rate}) {
        for (int32_t ch = 1; ch <= 6; ++ch) {
            SCOPED_TRACE(testing::Message() << "rate " << rate << " channels " << ch);
            DstEncoderOptions o;
            o.uncoded = 0;
            if (rate != dsdtools::kDsd64Rate) o.maxOrder = 32;  // keeps the test quick
            std::vector<DstFrameStats> stats;
            RoundTrip(ch, rate, 1, o, &stats);
            ASSERT_EQ(stats.size(), 1u);
            EXPECT_TRUE(stats[0].coded);
        }
    }
}

TEST(DstRoundTrip, ForcedFeatures) {
    struct Case {
        const char* name;
        void (*set)(DstEncoderOptions&);
        bool (*check)(const DstFrameStats&, int32_t channels);
    };
    const Case cases[] = {
        {"two filter segments", [](DstEncoderOptions& o) { o.filterSegments = 2; o.tableSegments = -1; },
         [](const DstFrameStats& s, int32_t) { return s.filterSegments == 2 && s.tablesUseFilterSegmentation; }},
        {"four filter segments, shared", [](DstEncoderOptions& o) { o.filterSegments = 4; o.sharedMapping = 1; },
         [](const DstFrameStats& s, int32_t ch) { return s.filterSegments == 4 && (s.sharedMapping || ch == 1); }},
        {"eight table segments", [](DstEncoderOptions& o) { o.filterSegments = 1; o.tableSegments = 8; o.sharedMapping = 1; },
         [](const DstFrameStats& s, int32_t) { return s.tableSegments == 8 && !s.tablesUseFilterSegmentation; }},
        {"own table segmentation, per channel", [](DstEncoderOptions& o) { o.filterSegments = 2; o.tableSegments = 3; o.sharedMapping = 0; },
         [](const DstFrameStats& s, int32_t) { return s.tableSegments == 3 && !s.tablesUseFilterMapping; }},
        {"per-channel segmentation", [](DstEncoderOptions& o) { o.filterSegments = 3; o.tableSegments = 4; o.perChannelSegmentation = true; },
         [](const DstFrameStats& s, int32_t) { return s.filterSegments == 1 && !s.sharedMapping; }},
        {"plain coefficients", [](DstEncoderOptions& o) { o.codedFilters = 0; o.codedTables = 0; },
         [](const DstFrameStats& s, int32_t) { return s.codedFilters == 0 && s.codedTables == 0; }},
        {"method 0", [](DstEncoderOptions& o) { o.codedFilters = 1; o.codedTables = 1; o.method = 0; },
         [](const DstFrameStats& s, int32_t) { return s.codedFilters > 0 && s.methodsUsed == 1; }},
        {"method 1", [](DstEncoderOptions& o) { o.codedFilters = 1; o.codedTables = 1; o.method = 1; },
         [](const DstFrameStats& s, int32_t) { return s.codedFilters > 0 && s.methodsUsed == 2; }},
        {"method 2", [](DstEncoderOptions& o) { o.codedFilters = 1; o.codedTables = 1; o.method = 2; },
         [](const DstFrameStats& s, int32_t) { return s.codedFilters > 0 && s.codedTables > 0 && s.methodsUsed == 4; }},
        {"half probability on", [](DstEncoderOptions& o) { o.halfProb = 1; },
         [](const DstFrameStats& s, int32_t ch) { return s.halfProbChannels == ch; }},
        {"order 1, single-entry tables", [](DstEncoderOptions& o) { o.fixedOrder = 1; o.maxTableLength = 1; },
         [](const DstFrameStats& s, int32_t) { return s.maxOrder == 1; }},
        {"order 128", [](DstEncoderOptions& o) { o.fixedOrder = 128; },
         [](const DstFrameStats& s, int32_t) { return s.maxOrder == 128; }},
    };
    for (const Case& c : cases) {
        for (int32_t ch : {1, 2, 5}) {
            SCOPED_TRACE(testing::Message() << c.name << ", channels " << ch);
            DstEncoderOptions o;
            o.uncoded = 0;
            o.maxOrder = 64;
            c.set(o);
            std::vector<DstFrameStats> stats;
            RoundTrip(ch, dsdtools::kDsd64Rate, 2, o, &stats);
            for (const DstFrameStats& s : stats) EXPECT_TRUE(c.check(s, ch));
        }
    }
}

// Uncoded frames; the periodic idle pattern compresses to almost nothing;
// sigma-delta sines compress (the ratio is printed for the record).
TEST(DstRoundTrip, UncodedIdleAndCompressionRatio) {
    DstEncoderOptions o;
    o.uncoded = 1;
    std::vector<DstFrameStats> stats;
    EXPECT_EQ(RoundTrip(2, dsdtools::kDsd64Rate, 2, o, &stats), 2 * (4704 * 2 + 1u));
    EXPECT_FALSE(stats[0].coded);
    EXPECT_LT(RoundTrip(2, dsdtools::kDsd64Rate, 1, DstEncoderOptions{}, nullptr, true), 200u);
    for (uint32_t rate : {dsdtools::kDsd64Rate, dsdtools::kDsd128Rate}) {
        const size_t raw = static_cast<size_t>(DstBytesPerChannel(static_cast<int32_t>(rate))) * 2 * 3;
        const double ratio = double(raw) / double(RoundTrip(2, rate, 3, DstEncoderOptions{}));
        std::printf("[ ratio    ] stereo %u Hz sines: ratio %.3f\n", rate, ratio);
        EXPECT_GT(ratio, 1.5);
    }
}
