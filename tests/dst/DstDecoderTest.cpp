// Frame decoder: hand-made frames for each parse rule and result code; a
// failure leaves 0x55 silence. (Random damage is the frame fuzz target's job.)
#include <gtest/gtest.h>

#include "tests/dst/DstTestUtil.h"
#include "tools/lib/DstEncoder.h"

using namespace dsttest;

namespace {

constexpr int32_t kRate = 2822400;

// Coded-frame prefix for one channel: one segment, tables share the filter
// segmentation and mapping.
Bits SimpleHead(uint32_t halfProb = 0) {
    Bits b;
    b.Put(1, 1);          // coded
    b.Put(1, 1);          // tables use the filter segmentation
    b.Put(1, 1).Put(1, 1);  // same for all channels, end of channel
    b.Put(1, 1);          // tables use the filter mapping
    b.Put(1, 1);          // same mapping for all channels
    b.Put(halfProb, 1);
    return b;
}

}  // namespace

TEST(DstDecoder, InitLimits) {
    for (auto [ch, rate] : {std::pair{0, kRate}, {7, kRate}, {2, 0}, {2, 22579200}}) {
        Decoder d(ch, rate);
        EXPECT_EQ(d.initResult, 1);
        uint8_t out[16] = {}, frame[2] = {};
        EXPECT_NE(DecodeFrame(d.state.get(), frame, 2, out), 0);
    }
    EXPECT_EQ(Decoder(6, 11289600).FrameBytes(), 18816u * 6);
}

TEST(DstDecoder, UncodedFrames) {
    // The ignored bit may be set; missing bytes decode as 0; stuffing bits fail.
    Decoder d(2, kRate);
    std::vector<uint8_t> frame(101), out;
    for (size_t i = 1; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    frame[0] = 0x40;
    EXPECT_EQ(d.Decode(frame, out), 0);
    EXPECT_TRUE(std::equal(frame.begin() + 1, frame.end(), out.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + 100, out.end(), [](uint8_t b) { return b == 0; }));
    for (uint8_t stuffing = 1; stuffing < 64; stuffing <<= 1) {
        frame[0] = stuffing;
        EXPECT_EQ(d.Decode(frame, out), kDstErrStuffingBits);
        EXPECT_TRUE(AllBytes(out, 0x55));
    }
    EXPECT_EQ(d.Decode({}, out), kDstErrReadPastEnd);
    EXPECT_TRUE(AllBytes(out, 0x55));
}

TEST(DstDecoder, SegmentationRules) {
    Decoder d(1, kRate);
    std::vector<uint8_t> out;
    struct Case {
        std::vector<std::pair<uint32_t, int32_t>> fields;
        int32_t result;
    };
    // Prefix: coded, tables use the filter segmentation, same for all, then
    // segments as 0-marker, (resolution: 13 bits), length (13 bits at resolution 1).
    const Case cases[] = {
        {{{1, 1}, {1, 1}, {1, 1}, {0, 1}}, kDstErrReadPastEnd},                  // ends inside the segmentation
        {{{1, 1}, {1, 1}, {1, 1}, {0, 1}, {0, 13}, {0, 13}}, kDstErrBadResolution},  // resolution 0
        {{{1, 1}, {1, 1}, {1, 1}, {0, 1}, {4577, 13}, {0, 13}}, kDstErrBadResolution},
        {{{1, 1}, {1, 1}, {1, 1}, {0, 1}, {1, 13}, {127, 13}}, kDstErrBadSegmentLength},  // 1016 bits < 1024
        {{{1, 1}, {1, 1}, {1, 1}, {0, 1}, {1, 13}, {4577, 13}}, kDstErrBadSegmentLength}, // leaves < 1024
        {{{1, 1}, {1, 1}, {1, 1}, {0, 1}, {1, 13}, {128, 13}, {0, 1}, {128, 13}, {0, 1}, {128, 13}, {0, 1}},
         kDstErrTooManySegments},
        // Three new filters for one channel (maximum 2).
        {{{1, 1}, {1, 1}, {1, 1}, {0, 1}, {1, 13}, {128, 13}, {0, 1}, {128, 13}, {0, 1}, {128, 13}, {1, 1},
          {1, 1}, {1, 1}, {1, 1}, {2, 2}, {3, 2}},
         kDstErrTooManyTables},
        // Table number 3 while the next new one is 2.
        {{{1, 1}, {1, 1}, {1, 1}, {0, 1}, {1, 13}, {128, 13}, {0, 1}, {128, 13}, {1, 1}, {1, 1}, {1, 1}, {1, 1},
          {3, 2}},
         kDstErrTableNumberSkips},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Bits b;
        for (auto [v, n] : cases[i].fields) b.Put(v, n);
        b.Put(0, 64);  // room for further reads where the case expects them
        if (cases[i].result == kDstErrReadPastEnd) b.bytes.resize(1);
        EXPECT_EQ(d.Decode(b.bytes, out), cases[i].result) << "case " << i;
        EXPECT_TRUE(AllBytes(out, 0x55));
    }
}

TEST(DstDecoder, MappingRulesForTwoChannels) {
    Decoder d(2, kRate);
    std::vector<uint8_t> out;
    // Filter segmentation per channel: channel 0 one segment, channel 1 two.
    auto head = [](Bits& b) {
        b.Put(1, 1).Put(0, 1);              // coded; tables have their own segmentation
        b.Put(0, 1).Put(1, 1);              // per channel; channel 0: one segment
        b.Put(0, 1).Put(1, 13).Put(2000, 13).Put(1, 1);  // channel 1: two segments
        b.Put(1, 1).Put(1, 1);              // table segmentation: same for all, one segment
    };
    Bits same;
    head(same);
    same.Put(0, 1).Put(1, 1).Put(0, 64);  // filter mapping same for all channels
    EXPECT_EQ(d.Decode(same.bytes, out), kDstErrSameMappingCounts);
    Bits copied;
    head(copied);
    // Copied table mapping; filter mapping per channel (channel 1: filters 1, 0).
    copied.Put(1, 1).Put(0, 1).Put(1, 1).Put(0, 64);
    EXPECT_EQ(d.Decode(copied.bytes, out), kDstErrCopiedMappingCounts);
    EXPECT_TRUE(AllBytes(out, 0x55));
}

TEST(DstDecoder, FilterAndTableRules) {
    Decoder d(1, kRate);
    std::vector<uint8_t> out;
    auto run = [&](void (*body)(Bits&)) {
        Bits b = SimpleHead();
        body(b);
        b.Put(0, 64);
        return d.Decode(b.bytes, out);
    };
    // Method 0 has order 1: not below a filter order of 1.
    EXPECT_EQ(run([](Bits& b) { b.Put(0, 7).Put(1, 1).Put(0, 2); }), kDstErrFilterMethod);
    EXPECT_EQ(run([](Bits& b) { b.Put(9, 7).Put(1, 1).Put(3, 2); }), kDstErrFilterMethod);
    // 255 then a residual of +1 over the prediction 255.
    EXPECT_EQ(run([](Bits& b) { b.Put(1, 7).Put(1, 1).Put(0, 2).Put(255, 9).Put(0, 3).Put(1, 2).Put(0, 1); }),
              kDstErrFilterCoefRange);
    // Table of length 2 with method 1 (order 2).
    EXPECT_EQ(run([](Bits& b) { b.Put(0, 7).Put(0, 1).Put(0, 9).Put(1, 6).Put(1, 1).Put(1, 2); }), kDstErrTableMethod);
    // Entry 128 then a residual of +1: 129.
    EXPECT_EQ(run([](Bits& b) { b.Put(0, 7).Put(0, 1).Put(0, 9).Put(1, 6).Put(1, 1).Put(0, 2).Put(127, 7).Put(0, 3).Put(1, 2).Put(0, 1); }),
              kDstErrTableEntryRange);
    EXPECT_TRUE(AllBytes(out, 0x55));

    // A table of length 1 holds 128 and reads nothing more: the arithmetic
    // data starts right after its 6 bits; here its first bit is 1.
    Bits b = SimpleHead();
    b.Put(0, 7).Put(0, 1).Put(5, 9).Put(0, 6);
    const uint64_t headerBits = b.count;
    b.Put(1, 1).Put(0, 32);
    EXPECT_EQ(d.Decode(b.bytes, out), kDstErrFirstArithBit);
    EXPECT_EQ(d.state->arithStart, static_cast<int64_t>(headerBits));
    EXPECT_EQ(d.state->probTables[0], 128);
    EXPECT_TRUE(AllBytes(out, 0x55));
}

TEST(DstDecoder, ArithmeticDataRules) {
    const std::vector<uint8_t> input = MakeSignal(2, kRate, 1);
    dsdtools::DstEncoderOptions o;
    o.uncoded = 0;
    o.maxOrder = 32;
    dsdtools::DstEncoder enc(2, kRate, o);
    std::vector<uint8_t> frame = enc.EncodeFrame(input.data());
    Decoder d(2, kRate);
    std::vector<uint8_t> out;
    ASSERT_EQ(d.Decode(frame, out), 0);
    // Up to 7 bits of padding past what the coder reads are fine; more are not.
    frame.resize(frame.size() + 16, 0);
    EXPECT_EQ(d.Decode(frame, out), kDstErrArithUnderrun);
    EXPECT_TRUE(AllBytes(out, 0x55));
    frame.resize(frame.size() - 16);
    EXPECT_EQ(d.Decode(frame, out), 0);  // the state stays usable
    EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin()));
}

TEST(DstDecoder, BitsPastTheFrameEndReadAsZero) {
    // The coder reads whole words near the frame's end: a frame cut short
    // must decode exactly as the same bytes followed by real zero bytes
    // (padded back to the full size, so the coder reads no further than the
    // frame holds and no underrun is reported).
    const std::vector<uint8_t> input = MakeSignal(2, kRate, 1);
    dsdtools::DstEncoderOptions o;
    o.uncoded = 0;
    dsdtools::DstEncoder enc(2, kRate, o);
    const std::vector<uint8_t> frame = enc.EncodeFrame(input.data());
    Decoder d(2, kRate);
    for (size_t cut : {1, 3, 7, 8, 9, 15, 17}) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> shortFrame(frame.begin(), frame.end() - static_cast<std::ptrdiff_t>(cut));
        std::vector<uint8_t> padded = shortFrame;
        padded.resize(frame.size(), 0);
        std::vector<uint8_t> a, b;
        ASSERT_EQ(d.Decode(shortFrame, a), 0);
        ASSERT_EQ(d.Decode(padded, b), 0);
        EXPECT_EQ(a, b);
        EXPECT_NE(a, input);
    }
}
