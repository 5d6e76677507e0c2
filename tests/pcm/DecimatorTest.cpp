#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "pcm/ConvertToPCM.h"
#include "pcm/Dsd2Pcm.h"
#include "tests/pcm/PcmReference.h"

namespace {

class DecimatorTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureDecimatorTables(); }
};

// Random bytes in random pieces (empty, shorter than the ring, longer than one
// internal pass), both bit orders and several strides: every output and the
// state after every call equal the plain ring-buffer decimator (which also
// proves the lookup tables and the bit-reversal table entry by entry).
TEST_F(DecimatorTest, OptimisedRunEqualsReferenceBitForBit) {
    std::mt19937 rng(12345);
    const size_t pieces[] = {0, 1, 2, 5, 6, 7, 11, 12, 15, 16, 17, 100, 511, 512, 513, 1500, 3};
    for (int lsb = 0; lsb < 2; ++lsb) {
        for (ptrdiff_t srcStride : {1, 2, 6}) {
            dsd2pcm_ctx_s ctx;
            dsd2pcm_init(&ctx);
            pcmref::Decimator ref;
            for (int round = 0; round < 3; ++round) {
                for (size_t n : pieces) {
                    std::vector<uint8_t> src(n * srcStride + 1);
                    for (auto& b : src) b = static_cast<uint8_t>(rng());
                    // Mostly random, sometimes long runs of one value.
                    if (round == 1) std::fill(src.begin(), src.end(), static_cast<uint8_t>(rng()));
                    std::vector<double> out(n * 3 + 1, -7.0), expect(n);
                    dsd2pcm_run(&ctx, n, src.data(), srcStride, lsb != 0, out.data(), 3);
                    for (size_t j = 0; j < n; ++j) {
                        expect[j] = ref.Step(src[j * srcStride], lsb != 0);
                    }
                    for (size_t j = 0; j < n; ++j) {
                        ASSERT_EQ(0, std::memcmp(&expect[j], &out[j * 3], sizeof(double)))
                            << "piece " << n << " output " << j << " lsb " << lsb;
                    }
                    ASSERT_EQ(-7.0, out[n * 3]);  // nothing written past the end
                    ASSERT_EQ(ref.position, ctx.position);
                    ASSERT_EQ(0, std::memcmp(ref.history, ctx.history, 16)) << "piece " << n;
                }
            }
        }
    }
}

TEST_F(DecimatorTest, SilencePatternSettlesToExactZero) {
    dsd2pcm_ctx_s ctx;
    dsd2pcm_init(&ctx);
    std::vector<uint8_t> src(64, 0x69);
    std::vector<double> out(64);
    dsd2pcm_run(&ctx, out.size(), src.data(), 1, false, out.data(), 1);
    for (size_t j = 0; j < 5; ++j) EXPECT_NE(0.0, out[j]) << j;
    for (size_t j = 5; j < out.size(); ++j) ASSERT_EQ(0.0, out[j]) << j;
}

// All ones or all zeros come out at +-1 (less the taps' rounding) once the
// silence history has left the filter. (The LSB-first flag is covered by the
// comparison with the reference above.)
TEST_F(DecimatorTest, ConstantInputPassesWithUnitGain) {
    for (uint8_t value : {uint8_t(0xFF), uint8_t(0x00)}) {
        dsd2pcm_ctx_s ctx;
        dsd2pcm_init(&ctx);
        std::vector<uint8_t> src(40, value);
        std::vector<double> out(40);
        dsd2pcm_run(&ctx, out.size(), src.data(), 1, false, out.data(), 1);
        EXPECT_NE(out[10], out[11]);
        for (size_t j = 11; j < out.size(); ++j) ASSERT_EQ(out[11], out[j]) << j;
        EXPECT_NEAR(value ? 0.99999696 : -0.99999696, out[11], 5e-9);
    }
}

}  // namespace
