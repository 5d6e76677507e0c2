// Decoding pipeline: worker counts, order of delivery, back-pressure, damaged
// frames and destruction with frames still queued.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "dst/DstPipeline.h"
#include "tests/dst/DstTestUtil.h"
#include "tools/lib/DstEncoder.h"

namespace {

constexpr uint32_t kRate = 2822400;
constexpr size_t kFrameBytes = 4704 * 2;

// Uncoded stereo frame whose bytes all equal `fill`.
KwByteBuffer UncodedFrame(uint8_t fill) {
    KwByteBuffer b;
    b.Resize(kFrameBytes + 1);
    std::memset(b.Data(), fill, b.Size());
    b.Data()[0] = 0;
    return b;
}

}  // namespace

TEST(DstPipeline, WorkerCountsAndOrderOfDelivery) {
    const int32_t workers[][3] = {{0, 4, 3}, {0, 1, 2}, {-5, 3, 3}, {0, 64, 4}, {7, 1, 7}};  // setting, processors
    for (const auto& w : workers) EXPECT_EQ(CDstDecoder::WorkersFor(w[0], w[1]), uint32_t(w[2])) << w[0] << " " << w[1];
    // Many frames through four workers keep their order.
    CDstDecoder pipeline(2, kRate, 4);
    KwByteBuffer out;
    const int n = 120;
    for (int i = 0; i < n; ++i) {
        KwByteBuffer frame = UncodedFrame(static_cast<uint8_t>(i));
        pipeline.SubmitFrame(frame);
        if (i % 7 == 0) pipeline.FetchDecoded(out, false);
    }
    pipeline.FetchDecoded(out, true);
    ASSERT_EQ(out.Size(), n * kFrameBytes);
    for (int i = 0; i < n; ++i) EXPECT_EQ(out.Data()[i * kFrameBytes + 17], static_cast<uint8_t>(i));
}

// Holding the queue lock holds the workers (the lock admits its holder again).
struct CDstDecoderTestAccess {
    static KwCriticalSection& Lock(CDstDecoder& decoder) { return decoder.m_lock; }
};

TEST(DstPipeline, UndecodedHeadHoldsDeliveryAndBackPressure) {
    CDstDecoder pipeline(2, kRate, 2);
    CDstDecoderTestAccess::Lock(pipeline).Enter();
    for (int i = 0; i < 50; ++i) {
        KwByteBuffer frame = UncodedFrame(1);
        pipeline.SubmitFrame(frame);
    }
    KwByteBuffer out;
    pipeline.FetchDecoded(out, false);
    EXPECT_EQ(out.Size(), 0u);  // nothing decoded yet: nothing delivered

    // The 51st frame waits until a worker takes one.
    auto submit = std::async(std::launch::async, [&] {
        KwByteBuffer frame = UncodedFrame(2);
        return pipeline.SubmitFrame(frame);
    });
    EXPECT_EQ(submit.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    CDstDecoderTestAccess::Lock(pipeline).Leave();
    EXPECT_TRUE(submit.get());
    pipeline.FetchDecoded(out, true);
    EXPECT_EQ(out.Size(), 51 * kFrameBytes);
}

// Destruction with frames queued returns without delivering; a layout the
// frame decoder cannot hold delivers one frame of silence per frame.
TEST(DstPipeline, DestroyWithFramesQueuedAndUnsupportedLayout) {
    const std::vector<uint8_t> input = dsttest::MakeSignal(2, kRate, 2);
    const auto coded = dsdtools::DstEncodeStream(input.data(), input.size(), 2, kRate);
    for (int round = 0; round < 3; ++round) {
        auto pipeline = std::make_unique<CDstDecoder>(2, kRate, 2);
        for (int i = 0; i < 30; ++i) {
            KwByteBuffer frame;
            frame.Append(coded[i % 2].data(), coded[i % 2].size());
            pipeline->SubmitFrame(frame);
        }
    }
    CDstDecoder pipeline(8, kRate, 1);
    KwByteBuffer frame = UncodedFrame(3), out;
    pipeline.SubmitFrame(frame);
    pipeline.FetchDecoded(out, true);
    ASSERT_EQ(out.Size(), static_cast<size_t>(kRate / 600) * 8);
    EXPECT_TRUE(std::all_of(out.Data(), out.Data() + out.Size(), [](uint8_t b) { return b == 0x55; }));
}

// Workers run at the collecting thread's level, so that a busy machine does
// not take the second core from them; time-critical is not passed on.
TEST(DstPipeline, WorkersRunAtTheCallersPriority) {
    using P = KwThreadPriority;
    const struct {
        P caller, workers;
    } cases[] = {{P::Lowest, P::Lowest},   {P::BelowNormal, P::BelowNormal}, {P::Normal, P::Normal},
                 {P::AboveNormal, P::AboveNormal}, {P::Highest, P::Highest}, {P::TimeCritical, P::Highest}};
    for (const auto& c : cases) EXPECT_EQ(c.workers, DstWorkerPriority(c.caller)) << static_cast<int>(c.caller);
}
