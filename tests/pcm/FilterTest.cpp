#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "pcm/ConvertToPCM.h"
#include "pcm/IIRFilter.h"
#include "tests/pcm/PcmReference.h"

namespace {

struct ModeCase {
    uint32_t mode;
    unsigned sections;
    double cutOff;
};
const ModeCase kModes[] = {{kLowPassSafe, 4, 24000.0}, {kLowPassMedium, 2, 30000.0}, {kLowPassPermissive, 2, 50000.0}};
const double kRates[] = {352800.0, 705600.0, 1411200.0};

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

using pcmref::ResponseDb;

TEST(IIRFilterTest, DesignChecksItsArguments) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Bad {
        uint32_t sections;
        double fs, fc, gain, q;
    } bad[] = {{4, 999.0, 100.0, 0, 1},    {4, 1.0000001e7, 24000, 0, 1}, {4, 352800, -1, 0, 1},
               {4, 352800, 1.1e7, 0, 1},   {4, 352800, 24000, 1001, 1},   {4, 352800, 24000, -1001, 1},
               {4, 352800, 24000, 0, 0.001}, {4, 352800, 24000, 0, 10001}, {3, 352800, 24000, 0, 1},
               {4, nan, 24000, 0, 1},      {4, 352800, nan, 0, 1},        {4, 352800, 24000, 0, nan}};
    for (const Bad& b : bad) {
        CIIRFilter filter;
        EXPECT_FALSE(filter.Design(b.sections, b.fs, b.fc, b.gain, b.q)) << b.fs << " " << b.fc;
        EXPECT_FALSE(filter.IsValid());
        EXPECT_EQ(0u, filter.ActiveSections());
        EXPECT_EQ(0.25, filter.Process(0.25));  // an undesigned filter passes its input
    }
    // A valid design followed by a failed one: invalid, but keeps running.
    CIIRFilter filter;
    ASSERT_TRUE(filter.Design(4, 352800, 24000, 0, 1));
    EXPECT_FALSE(filter.Design(4, 500.0, 24000, 0, 1));
    EXPECT_FALSE(filter.IsValid());
    EXPECT_TRUE(std::isfinite(filter.Process(0.5)));
}

TEST(IIRFilterTest, CutOffNearNyquistGivesNoSections) {
    CIIRFilter filter;
    ASSERT_TRUE(filter.Design(4, 352800, 0.496 * 352800, 0, 1));
    EXPECT_TRUE(filter.IsValid());
    EXPECT_EQ(0u, filter.ActiveSections());
    EXPECT_EQ(1.0, filter.OverallGain());
    EXPECT_EQ(0.123, filter.Process(0.123));
    EXPECT_TRUE(filter.Design(3, 352800, 0.496 * 352800, 0, 1));  // without sections the count is not checked
}

// The block and two-lane paths against Process, including filters of different
// section counts in one pair, an odd stride and values below the flush threshold.
// (The coefficients and the output of every mode at every rate are compared
// with the plain reference through the whole conversion in ConvertTest.)
TEST(IIRFilterTest, BlockAndPairPathsEqualProcess) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    const size_t n = 3000, stride = 3;
    const auto design = [](const ModeCase& m) {
        CIIRFilter f;
        EXPECT_TRUE(f.Design(m.sections, 352800, m.cutOff, 0, 1));
        return f;
    };
    for (const ModeCase& ma : kModes) {
        for (const ModeCase& mb : kModes) {
            CIIRFilter a = design(ma), b = design(mb), single = design(ma), a2 = a, b2 = b;
            std::vector<double> data(n * stride);
            for (size_t i = 0; i < data.size(); ++i) data[i] = i > n * stride / 2 ? 1e-160 * dist(rng) : dist(rng);
            std::vector<double> expect = data, pair = data, block = data;
            for (size_t k = 0; k < n; ++k) {
                expect[k * stride] = a2.Process(expect[k * stride]);
                expect[k * stride + 1] = b2.Process(expect[k * stride + 1]);
            }
            // In two calls, so the state carries between them.
            CIIRFilter::ProcessPair(a, b, pair.data(), n / 2, stride);
            CIIRFilter::ProcessPair(a, b, pair.data() + n / 2 * stride, n - n / 2, stride);
            single.ProcessBlock(block.data(), n, stride);
            for (size_t k = 0; k < n; ++k) {
                ASSERT_TRUE(SameBits(expect[k * stride], pair[k * stride])) << k;
                ASSERT_TRUE(SameBits(expect[k * stride + 1], pair[k * stride + 1])) << k;
                ASSERT_TRUE(SameBits(expect[k * stride], block[k * stride])) << k;
            }
        }
    }
}

// Designing again (the same filter for a new file) keeps the state; Reset clears it.
TEST(IIRFilterTest, RepeatedDesignKeepsStateAndResetClearsIt) {
    CIIRFilter filter;
    ASSERT_TRUE(filter.Design(4, 352800, 24000, 0, 1));
    for (int k = 0; k < 100; ++k) filter.Process(0.7);
    const double w1 = filter.State(0)[CIIRFilter::kW1];
    ASSERT_NE(0.0, w1);
    ASSERT_TRUE(filter.Design(4, 352800, 24000, 0, 1));
    EXPECT_EQ(w1, filter.State(0)[CIIRFilter::kW1]);
    filter.Reset();
    for (unsigned s = 0; s < 4; ++s)
        EXPECT_TRUE(filter.State(s)[CIIRFilter::kW1] == 0 && filter.State(s)[CIIRFilter::kW2] == 0) << s;
}

TEST(IIRFilterTest, MagnitudeResponse) {
    for (const ModeCase& m : kModes) {
        const double nominalSlope = 6.02 * 2 * m.sections;  // dB per octave
        for (double fs : kRates) {
            CIIRFilter filter;
            ASSERT_TRUE(filter.Design(m.sections, fs, m.cutOff, 0, 1));
            EXPECT_NEAR(0.0, ResponseDb(filter, 0.0), 1e-9);
            EXPECT_NEAR(0.0, ResponseDb(filter, 1000.0), 0.01);
            EXPECT_NEAR(-3.01, ResponseDb(filter, m.cutOff), 0.02) << m.cutOff << " at " << fs;
            // The octave above the cut-off; the bilinear transform steepens it
            // towards the Nyquist frequency.
            const double drop = ResponseDb(filter, m.cutOff) - ResponseDb(filter, 2 * m.cutOff);
            EXPECT_GT(drop, nominalSlope - 4.0) << m.cutOff << " at " << fs;
            if (fs == 1411200.0) {
                const double slope = ResponseDb(filter, 2 * m.cutOff) - ResponseDb(filter, 4 * m.cutOff);
                EXPECT_NEAR(nominalSlope, slope, nominalSlope * 0.1) << m.cutOff;
                EXPECT_NEAR(nominalSlope - 3.0, drop, 1.5) << m.cutOff;
            }
        }
    }
}

}  // namespace
