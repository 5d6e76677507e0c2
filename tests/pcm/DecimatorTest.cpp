#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "pcm/ConvertToPCM.h"
#include "pcm/Dsd2Pcm.h"
#include "tests/pcm/KernelSets.h"
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
    const size_t pieces[] = {0, 1, 2, 5, 6, 7, 11, 12, 15, 16, 17, 33, 100, 511, 512, 513, 1500, 3};
    ForEachPcmKernelSet([&] {
    for (int lsb = 0; lsb < 2; ++lsb) {
        for (ptrdiff_t srcStride : {1, 2, 6}) {
            const ptrdiff_t dstStride = srcStride == 2 ? 1 : 3;
            dsd2pcm_ctx_s ctx;
            dsd2pcm_init(&ctx);
            pcmref::Decimator ref;
            for (int round = 0; round < 3; ++round) {
                for (size_t n : pieces) {
                    std::vector<uint8_t> src(n * srcStride + 1);
                    for (auto& b : src) b = static_cast<uint8_t>(rng());
                    // Mostly random, sometimes long runs of one value.
                    if (round == 1) std::fill(src.begin(), src.end(), static_cast<uint8_t>(rng()));
                    std::vector<double> out(n * dstStride + 1, -7.0);
                    dsd2pcm_run(&ctx, n, src.data(), srcStride, lsb != 0, out.data(), dstStride);
                    for (size_t j = 0; j < n; ++j) {
                        const double expect = ref.Step(src[j * srcStride], lsb != 0);
                        ASSERT_EQ(0, std::memcmp(&expect, &out[j * dstStride], sizeof(double)))
                            << "piece " << n << " output " << j << " lsb " << lsb;
                    }
                    ASSERT_EQ(-7.0, out[n * dstStride]);  // nothing written past the end
                    ASSERT_EQ(ref.position, ctx.position);
                    ASSERT_EQ(0, std::memcmp(ref.history, ctx.history, 16)) << "piece " << n;
                }
            }
        }
    }
    });
}

// A constant input settles once the start-up history has left the filter:
// the silence pattern to exact zeros, all ones or all zeros to +-1 less the
// taps' rounding.
TEST_F(DecimatorTest, ConstantInputSettles) {
    const struct {
        uint8_t byte;
        double value;
        size_t from;  // first settled output
    } cases[] = {{0x69, 0.0, 5}, {0xFF, 0.99999696, 11}, {0x00, -0.99999696, 11}};
    for (const auto& c : cases) {
        dsd2pcm_ctx_s ctx;
        dsd2pcm_init(&ctx);
        std::vector<uint8_t> src(64, c.byte);
        std::vector<double> out(64);
        dsd2pcm_run(&ctx, out.size(), src.data(), 1, false, out.data(), 1);
        EXPECT_NE(out[c.from - 1], out[c.from]) << int(c.byte);
        for (size_t j = c.from; j < out.size(); ++j) ASSERT_EQ(out[c.from], out[j]) << j;
        EXPECT_NEAR(c.value, out[c.from], c.value == 0 ? 0.0 : 5e-9) << int(c.byte);
    }
}

}  // namespace
