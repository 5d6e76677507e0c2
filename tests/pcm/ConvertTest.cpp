#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "pcm/ConvertToPCM.h"
#include "pcm/ConvertToPCMContext.h"
#include "tests/pcm/KernelSets.h"
#include "tests/pcm/PcmReference.h"

namespace {

using Context = CConvertToPCMContext;

// Converts random blocks of both layouts in pieces of varying length and
// compares every double with the reference pipeline. The second call for a
// shape gets the first one's used context back from the pool: the reset must
// make it as good as new.
void ExpectSameAsReference(uint32_t channels, uint32_t rate, uint32_t mode, bool lsbFirst, bool add6dB,
                           bool planar, uint32_t seed) {
    Context* context = TakeConvertContext(channels, rate, mode);
    ASSERT_NE(nullptr, context);
    ResetConvertContext(*context);
    pcmref::Converter ref(channels, rate, mode);
    std::mt19937 rng(seed);
    const size_t pieces[] = {4096, 1, 300, 17, 0, 2000, 4096, 700};
    for (size_t frames : pieces) {
        std::vector<uint8_t> block(frames * channels);
        for (auto& b : block) b = static_cast<uint8_t>(rng());
        const size_t channelOffset = planar ? frames : 1;
        const size_t stride = planar ? 1 : channels;
        std::vector<double> got(frames * channels + 1, 3.0), expect(frames * channels);
        ConvertToPCM(*context, block.data(), frames, channelOffset, stride, lsbFirst, add6dB, got.data());
        ref.Convert(block.data(), frames, channelOffset, stride, lsbFirst, add6dB, expect.data());
        ASSERT_TRUE(expect.empty() || std::memcmp(expect.data(), got.data(), expect.size() * sizeof(double)) == 0)
            << "channels " << channels << " mode " << mode << " lsb " << lsbFirst << " gain " << add6dB
            << " planar " << planar << " frames " << frames;
        ASSERT_EQ(3.0, got.back());
    }
    ReturnConvertContext(context);
}

// Modes 0-3 and one out of range (taken as 0), one to six channels, both bit
// orders and layouts, with and without gain, and rates the filter cannot take
// (it stays invalid and passes the decimator's output, as mode 3 does).
TEST(ConvertToPCMTest, EqualsReferenceForEveryModeAndShape) {
    ForEachPcmKernelSet([] {
    uint32_t seed = 1;
    for (uint32_t mode : {0u, 1u, 2u, 3u, 7u}) {
        for (uint32_t channels = 1; channels <= 6; ++channels) {
            for (int lsb = 0; lsb < 2; ++lsb) {
                const bool planar = lsb != 0;  // DSF blocks are planar and LSB-first
                ExpectSameAsReference(channels, 352800, mode, lsb != 0, (seed & 1) != 0, planar, seed);
                ++seed;
            }
        }
        const struct {
            uint32_t channels, rate;
            bool lsb;
        } others[] = {{2, 705600, false}, {5, 1411200, true}, {2, 0, false}, {1, 500, true}, {6, 20000000, false}};
        for (const auto& o : others) {
            ExpectSameAsReference(o.channels, o.rate, mode, o.lsb, (seed & 1) != 0, false, seed);
            ++seed;
        }
    }
    });
}

// Signal, then a long stretch of the silence pattern: the filter state decays
// through the flush threshold to exact zeros (the paths that recompute a
// piece with the flush, and the one for digital silence).
TEST(ConvertToPCMTest, DecayIntoSilenceEqualsReference) {
    ForEachPcmKernelSet([] {
    for (uint32_t mode : {kLowPassSafe, kLowPassMedium}) {
        for (uint32_t channels : {1u, 2u, 3u}) {
            Context* context = TakeConvertContext(channels, 352800, mode);
            ResetConvertContext(*context);
            pcmref::Converter ref(channels, 352800, mode);
            const size_t frames = 160000;
            std::vector<uint8_t> block(frames * channels, 0x69);
            std::mt19937 rng(11);
            for (size_t i = 0; i < 3000 * channels; ++i) block[i] = static_cast<uint8_t>(rng());
            std::vector<double> got(block.size()), expect(block.size());
            for (size_t k = 0; k < frames; k += 4096) {
                const size_t n = std::min<size_t>(4096, frames - k);
                ConvertToPCM(*context, block.data() + k * channels, n, 1, channels, false, false,
                             got.data() + k * channels);
            }
            ref.Convert(block.data(), frames, 1, channels, false, false, expect.data());
            ASSERT_EQ(0, std::memcmp(expect.data(), got.data(), got.size() * sizeof(double)))
                << "mode " << mode << " channels " << channels;
            EXPECT_TRUE(got.back() == 0.0 && !std::signbit(got.back()));
            ReturnConvertContext(context);
        }
    }
    });
}

TEST(ConvertContextPoolTest, SharesByShapeSearchesFromTheEndAndKeepsThree) {
    DestroyConvertContextPool();
    ReturnConvertContext(nullptr);
    EXPECT_TRUE(IdleConvertContexts().empty());
    // An idle context serves its own shape only; of two idle ones of one shape
    // the later one is taken first.
    Context* first = TakeConvertContext(2, 352800, kLowPassSafe);
    Context* second = TakeConvertContext(2, 352800, kLowPassSafe);
    ReturnConvertContext(first);
    ReturnConvertContext(second);
    Context* six = TakeConvertContext(6, 352800, kLowPassSafe);
    EXPECT_TRUE(six != first && six != second);
    EXPECT_EQ(6u, six->decimators.size());
    EXPECT_EQ(second, TakeConvertContext(2, 352800, kLowPassSafe));
    EXPECT_EQ(first, TakeConvertContext(2, 352800, kLowPassSafe));
    for (Context* c : {six, first, second}) ReturnConvertContext(c);

    // Three idle contexts at most: a fourth return destroys the fourth.
    DestroyConvertContextPool();
    Context* k[4] = {TakeConvertContext(1, 352800, 0), TakeConvertContext(1, 705600, 0),
                     TakeConvertContext(1, 352800, 1), TakeConvertContext(1, 352800, 3)};
    for (Context* c : k) ReturnConvertContext(c);
    const std::vector<const Context*> kept = {k[0], k[1], k[2]};
    EXPECT_EQ(kept, IdleConvertContexts());
    Context* again = TakeConvertContext(1, 352800, 3);  // a new one
    EXPECT_EQ(kept, IdleConvertContexts());
    ReturnConvertContext(again);
    DestroyConvertContextPool();
    EXPECT_TRUE(IdleConvertContexts().empty());
}

TEST(ConvertContextPoolTest, ThreadsShareThePool) {
    DestroyConvertContextPool();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 200; ++i) {
                const uint32_t channels = 1 + static_cast<uint32_t>((t + i) % 3);
                Context* context = TakeConvertContext(channels, 352800, static_cast<uint32_t>(i % 4));
                if (context == nullptr || context->channels != channels) ++failures;
                uint8_t block[8 * 6] = {};
                double out[8 * 6];
                if (context) ConvertToPCM(*context, block, 8, 1, channels, false, false, out);
                ReturnConvertContext(context);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_LE(IdleConvertContexts().size(), 3u);
    DestroyConvertContextPool();
}

}  // namespace
