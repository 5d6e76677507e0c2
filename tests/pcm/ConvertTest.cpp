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
#include "tests/pcm/PcmReference.h"

namespace {

using Context = CConvertToPCMContext;

// Converts random blocks of both layouts in pieces of varying length and
// compares every double with the reference pipeline.
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

TEST(ConvertToPCMTest, EqualsReferenceForEveryModeAndShape) {
    uint32_t seed = 1;
    for (uint32_t mode : {0u, 1u, 2u, 3u, 7u}) {
        for (uint32_t channels = 1; channels <= 6; ++channels) {
            for (int lsb = 0; lsb < 2; ++lsb) {
                const bool planar = lsb != 0;  // DSF blocks are planar and LSB-first
                ExpectSameAsReference(channels, 352800, mode, lsb != 0, (seed & 1) != 0, planar, seed);
                ++seed;
            }
        }
        ExpectSameAsReference(2, 705600, mode, false, true, false, seed++);
        ExpectSameAsReference(5, 1411200, mode, true, false, false, seed++);
    }
}

// Signal, then a long stretch of the silence pattern: the filter state decays
// through the flush threshold to exact zeros (the paths that recompute a
// piece with the flush, and the one for digital silence).
TEST(ConvertToPCMTest, DecayIntoSilenceEqualsReference) {
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
            const double last = got.back();
            EXPECT_EQ(0.0, last);
            EXPECT_FALSE(std::signbit(last));
            for (unsigned s = 0; s < context->filters[0]->ActiveSections(); ++s) {
                EXPECT_EQ(0.0, context->filters[0]->State(s)[0]);
            }
            ReturnConvertContext(context);
        }
    }
}

TEST(ConvertToPCMTest, GainStepAndModeOff) {
    Context* context = TakeConvertContext(1, 352800, kLowPassOff);
    ASSERT_EQ(1u, context->filters.size());
    EXPECT_EQ(nullptr, context->filters[0]);
    ResetConvertContext(*context);
    std::vector<uint8_t> ones(64, 0xFF);
    std::vector<double> out(64);
    ConvertToPCM(*context, ones.data(), ones.size(), 0, 1, false, true, out.data());
    EXPECT_EQ(0.99999696, std::round(out[63] / kGain6dB * 1e8) / 1e8);
    ResetConvertContext(*context);
    std::vector<double> plain(64);
    ConvertToPCM(*context, ones.data(), ones.size(), 0, 1, false, false, plain.data());
    EXPECT_EQ(plain[40] * 1.9952623149688795, out[40]);
    ReturnConvertContext(context);
}

TEST(ConvertToPCMTest, ModeOutsideRangeIsSafe) {
    uint32_t sections = 0;
    double cutOff = 0;
    ASSERT_TRUE(LowPassDesign(9, sections, cutOff));
    EXPECT_EQ(4u, sections);
    EXPECT_EQ(24000.0, cutOff);
    EXPECT_FALSE(LowPassDesign(kLowPassOff, sections, cutOff));
    Context* context = TakeConvertContext(2, 352800, 12345);
    ASSERT_NE(nullptr, context->filters[1]);
    EXPECT_EQ(4u, context->filters[1]->ActiveSections());
    EXPECT_EQ(24000.0, context->filters[1]->CutOff());
    ReturnConvertContext(context);
}

TEST(ConvertToPCMTest, ResetRestoresSilenceAndZeroState) {
    Context* context = TakeConvertContext(3, 352800, kLowPassSafe);
    std::mt19937 rng(3);
    std::vector<uint8_t> block(3 * 1000);
    for (auto& b : block) b = static_cast<uint8_t>(rng());
    std::vector<double> out(block.size());
    ConvertToPCM(*context, block.data(), 1000, 1, 3, false, false, out.data());
    const double fb1 = context->filters[2]->Coefficients(1)[CIIRFilter::kFb1];
    ResetConvertContext(*context);
    for (uint32_t c = 0; c < 3; ++c) {
        for (uint8_t b : context->decimators[c]->history) ASSERT_EQ(0x69, b);
        EXPECT_EQ(0u, context->decimators[c]->position);
        for (unsigned s = 0; s < 4; ++s) {
            EXPECT_EQ(0.0, context->filters[c]->State(s)[0]);
            EXPECT_EQ(0.0, context->filters[c]->State(s)[1]);
        }
    }
    EXPECT_EQ(fb1, context->filters[2]->Coefficients(1)[CIIRFilter::kFb1]);
    // After the reset the output is that of a fresh pipeline.
    pcmref::Converter ref(3, 352800, kLowPassSafe);
    std::vector<double> expect(block.size());
    ConvertToPCM(*context, block.data(), 1000, 1, 3, false, false, out.data());
    ref.Convert(block.data(), 1000, 1, 3, false, false, expect.data());
    EXPECT_EQ(0, std::memcmp(expect.data(), out.data(), out.size() * sizeof(double)));
    ReturnConvertContext(context);
}

TEST(ConvertToPCMTest, RateTheFilterCannotTakeLeavesItInvalid) {
    for (uint32_t rate : {0u, 500u, 20000000u}) {
        Context* context = TakeConvertContext(2, rate, kLowPassMedium);
        ASSERT_NE(nullptr, context->filters[0]);
        EXPECT_FALSE(context->filters[0]->IsValid());
        ResetConvertContext(*context);
        pcmref::Converter ref(2, rate, kLowPassOff);
        std::vector<uint8_t> block(2 * 500, 0xA5);
        std::vector<double> out(block.size()), expect(block.size());
        ConvertToPCM(*context, block.data(), 500, 1, 2, false, false, out.data());
        ref.Convert(block.data(), 500, 1, 2, false, false, expect.data());
        EXPECT_EQ(0, std::memcmp(expect.data(), out.data(), out.size() * sizeof(double)));
        ReturnConvertContext(context);
    }
}

TEST(ConvertContextPoolTest, SharesByShapeSearchesFromTheEndAndKeepsThree) {
    DestroyConvertContextPool();
    EXPECT_TRUE(IdleConvertContexts().empty());
    ReturnConvertContext(nullptr);
    EXPECT_TRUE(IdleConvertContexts().empty());

    Context* stereo = TakeConvertContext(2, 352800, kLowPassSafe);
    EXPECT_EQ(2u, stereo->channels);
    EXPECT_EQ(352800u, stereo->rate);
    EXPECT_EQ(0u, stereo->lowPassMode);
    ReturnConvertContext(stereo);
    EXPECT_EQ(stereo, TakeConvertContext(2, 352800, kLowPassSafe));
    Context* six = TakeConvertContext(6, 352800, kLowPassSafe);
    EXPECT_NE(stereo, six);
    EXPECT_EQ(6u, six->decimators.size());
    ReturnConvertContext(stereo);
    ReturnConvertContext(six);

    // Two idle contexts of one shape: the later one is taken first.
    Context* other = TakeConvertContext(2, 352800, kLowPassSafe);
    EXPECT_EQ(stereo, other);
    Context* second = TakeConvertContext(2, 352800, kLowPassSafe);
    EXPECT_NE(stereo, second);
    ReturnConvertContext(stereo);
    ReturnConvertContext(second);
    EXPECT_EQ(second, TakeConvertContext(2, 352800, kLowPassSafe));
    ReturnConvertContext(second);

    // Idle: six, stereo, second. A fourth return destroys the one in fourth position.
    DestroyConvertContextPool();
    Context* a = TakeConvertContext(1, 352800, 0);
    Context* b = TakeConvertContext(1, 705600, 0);
    Context* c = TakeConvertContext(1, 352800, 1);
    Context* d = TakeConvertContext(1, 352800, 3);
    ReturnConvertContext(a);
    ReturnConvertContext(b);
    ReturnConvertContext(c);
    ReturnConvertContext(d);
    std::vector<const Context*> expect = {a, b, c};
    EXPECT_EQ(expect, IdleConvertContexts());
    Context* again = TakeConvertContext(1, 352800, 3);
    EXPECT_EQ(nullptr, again->filters[0]);
    EXPECT_EQ(expect, IdleConvertContexts());  // a new one; d is gone
    ReturnConvertContext(again);
    DestroyConvertContextPool();
    EXPECT_TRUE(IdleConvertContexts().empty());
    DestroyConvertContextPool();
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
