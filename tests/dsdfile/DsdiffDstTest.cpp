// DST-coded DSDIFF files: frames encoded by our encoder come back bit for bit,
// seeking skips whole frames, damaged frames cost one frame of 0x55 each and
// damaged chunks end the stream.
#include <gtest/gtest.h>

#include "tests/dsdfile/DsdTestSupport.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/DstEncoder.h"

using namespace dsdtest;

namespace {

constexpr uint32_t kRate = dsdtools::kDsd64Rate;
constexpr size_t kPerChannel = kRate / 600;  // bytes per channel of one frame

struct Coded {
    Bytes interleaved;  // whole frames
    std::vector<Bytes> frames;
};

// `count` frames of a tone per channel; `uncoded` frames encode fast and are
// still real DST frames.
Coded Encode(uint32_t channels, uint32_t count, bool uncoded = false) {
    Coded c{Interleave(Tones(channels, kRate, uint64_t{count} * kPerChannel * 8)), {}};
    dsdtools::DstEncoderOptions options;
    options.maxOrder = 24;
    options.uncoded = uncoded ? 1 : options.uncoded;
    c.frames = dsdtools::DstEncodeStream(c.interleaved.data(), c.interleaved.size(), int32_t(channels), kRate, options);
    return c;
}

// A DST file around hand-made "DST " chunk contents.
Bytes DstFile(uint32_t channels, const Bytes& dstBody) {
    return Form(Cat({Prop(Cat({Fs(kRate), Chnl(static_cast<uint16_t>(channels)), Cmpr("DST ")})), Chunk("DST ", dstBody)}));
}

TEST(DsdiffDst, DecodedFramesAreTheOriginalBits) {
    for (uint32_t channels : {1u, 2u, 5u, 6u}) {
        SCOPED_TRACE(channels);
        const Coded c = Encode(channels, 6);
        ASSERT_EQ(c.frames.size(), 6u);
        // "DSTC" chunks of odd size after some frames: neither counts as audio.
        dsdtools::DsdiffOptions options;
        options.dstCrcs = {{1, 2, 3}, {}, {4, 5, 6, 7}, {8}};
        CDSDFile dff;
        ASSERT_TRUE(OpenDff(dff, dsdtools::BuildDsdiffDst(channels, kRate, c.frames, options), kOutputNativeDsd));
        EXPECT_DOUBLE_EQ(dff.GetDuration(), 6 * 1000.0 / 75);
        EXPECT_TRUE(dff.OutputFormat().SubType() == kGuidDsdMsbFirst);
        // Five channels are delivered as six with the silence byte in slot 3.
        Bytes expected;
        for (size_t k = 0; k < c.interleaved.size(); k += channels)
            for (size_t ch = 0; ch < channels; ++ch) {
                if (channels == 5 && ch == 3) expected.push_back(0x69);
                expected.push_back(c.interleaved[k + ch]);
            }
        EXPECT_TRUE(ReadAllBytes(dff, 1000) == expected);
    }
}

TEST(DsdiffDst, SeekingSkipsWholeFrames) {
    const uint32_t count = 160;
    const Coded c = Encode(2, count, true);
    dsdtools::DsdiffOptions options;
    options.dstCrcs.assign(count, {0xAB, 0xCD, 0xEF});  // skipped, never counted as frames
    options.trailingChunks = {{"DIIN", {1, 2, 3}}};
    const auto file = dsdtools::BuildDsdiffDst(2, kRate, c.frames, options);
    CDSDFile dff;
    ASSERT_TRUE(OpenDff(dff, file, kOutputNativeDsd));
    const size_t frameBytes = 2 * kPerChannel;
    const auto tail = [&](size_t frame) {
        return std::vector<uint8_t>(c.interleaved.begin() + frame * frameBytes, c.interleaved.end());
    };
    // 1000 ms skips 75 frames; 20 ms (14112 bytes) one; 13 ms (9173 bytes) none.
    // Far seeks, back and forth, reuse what earlier seeks learnt.
    for (auto [ms, frame] : {std::pair{1000.0, 75}, {20.0, 1}, {13.0, 0}, {2010.0, 150}, {1013.4, 76},
                             {2013.0, 150}, {0.0, 0}}) {
        ASSERT_TRUE(dff.Seek(ms));
        EXPECT_TRUE(ReadAllBytes(dff, 7001) == tail(frame)) << ms;
    }
    // A seek in the middle of reading drops what was decoded ahead.
    std::vector<uint8_t> buffer(2 * 30000);
    ASSERT_TRUE(dff.Seek(0));
    ASSERT_GT(dff.ReadSamples(buffer.data(), 30000), 0u);
    ASSERT_TRUE(dff.Seek(1000));
    EXPECT_TRUE(ReadAllBytes(dff, 30000) == tail(75));
    // Past the end: the reader stands at the end of the DST data; nothing more.
    ASSERT_TRUE(dff.Seek(1e9));
    EXPECT_EQ(dff.ReadSamples(buffer.data(), 30000), 0u);
    ASSERT_TRUE(dff.Seek(-5));
    EXPECT_TRUE(ReadAllBytes(dff, 30000) == c.interleaved);
}

TEST(DsdiffDst, DamagedFramesAndChunks) {
    const Coded c = Encode(2, 8);
    const size_t frameBytes = 2 * kPerChannel;
    const auto original = [&](size_t from, size_t to) {
        return Bytes(c.interleaved.begin() + from * frameBytes, c.interleaved.begin() + to * frameBytes);
    };
    const Bytes silence(frameBytes, 0x55);
    // Damaged and empty frames between good ones: one frame of 0x55 each.
    auto frames = c.frames;
    frames[2].resize(3);
    frames[4].clear();
    frames[5].assign(frames[5].size(), 0xFF);
    // Frames 0 and 1, then the given chunks, then frame 2.
    const auto withMiddle = [&](const Bytes& middle) {
        return DstFile(2, Cat({Frte(8), Chunk("DSTF", c.frames[0]), Chunk("DSTF", c.frames[1]), middle,
                               Chunk("DSTF", c.frames[2])}));
    };
    const std::pair<Bytes, Bytes> cases[] = {
        {dsdtools::BuildDsdiffDst(2, kRate, frames),
         Cat({original(0, 2), silence, original(3, 4), silence, silence, original(6, 8)})},
        // An unknown chunk, or a frame reaching past the DST data, ends the stream.
        {withMiddle(Chunk("JUNK", {1, 2, 3, 4})), original(0, 2)},
        {withMiddle(Chunk("DSTF", {}, uint64_t{1} << 40)), original(0, 2)},
        // A negative frame size counts as 0 (an empty frame), and a frame far
        // larger than any DST frame is not read: either costs one frame, and on.
        {withMiddle(Chunk("DSTF", {}, ~uint64_t{0})), Cat({original(0, 2), silence, original(2, 3)})},
        {withMiddle(Chunk("DSTF", Bytes(3 * frameBytes + 65536, 0x12))), Cat({original(0, 2), silence, original(2, 3)})},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        CDSDFile dff;
        ASSERT_TRUE(OpenDff(dff, cases[i].first, kOutputNativeDsd));
        EXPECT_TRUE(ReadAllBytes(dff, 1000) == cases[i].second) << i;
        if (i != 1) continue;
        // The end stays for later reads and seeks beyond it; a seek back plays it again.
        Bytes buffer(2000);
        EXPECT_EQ(dff.ReadSamples(buffer.data(), 1000), 0u);
        ASSERT_TRUE(dff.Seek(1000));
        EXPECT_EQ(dff.ReadSamples(buffer.data(), 1000), 0u);
        ASSERT_TRUE(dff.Seek(0));
        EXPECT_TRUE(ReadAllBytes(dff, 1000) == cases[i].second);
    }
}

TEST(DsdiffDst, HeaderChecks) {
    const Coded c = Encode(2, 2, true);
    const auto frames = Cat({Chunk("DSTF", c.frames[0]), Chunk("DSTF", c.frames[1])});
    // A frame count of 0: the frames still play, the duration is 0. A plain
    // "DSD " chunk before the "DST " chunk of a DST file is passed over.
    const Bytes good[] = {DstFile(2, Cat({Frte(0), frames})),
                          Form(Cat({Prop(Cat({Chnl(2), Cmpr("DST ")})), Chunk("DSD ", Bytes(99, 1)),
                                    Chunk("DST ", Cat({Frte(0), frames}))}))};
    for (const Bytes& file : good) {
        CDSDFile dff;
        ASSERT_TRUE(OpenDff(dff, file, kOutputNativeDsd));
        EXPECT_EQ(dff.GetDuration(), 0.0);
        EXPECT_TRUE(ReadAllBytes(dff, 1000) == c.interleaved);
    }
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> bad = {
        {"no FRTE", DstFile(2, frames)},
        {"FRTE of size 4", DstFile(2, Cat({Chunk("FRTE", Be(2, 4)), frames}))},
        {"only FRTE", DstFile(2, Frte(5))},
        {"short DST chunk", DstFile(2, std::vector<uint8_t>(10, 0))},
        {"DST chunk smaller than FRTE", Form(Cat({Prop(Cmpr("DST ")), Chunk("DST ", Cat({Frte(2), frames}), 10)}))},
        {"seven channels", DstFile(7, Cat({Frte(2), frames}))},
        {"zero channels", DstFile(0, Cat({Frte(2), frames}))},
        {"rate below 44100", Form(Cat({Prop(Cat({Fs(22050), Cmpr("DST ")})), Chunk("DST ", Cat({Frte(2), frames}))}))},
        {"rate above DSD256", Form(Cat({Prop(Cat({Fs(4 * 11289600u), Cmpr("DST ")})), Chunk("DST ", Cat({Frte(2), frames}))}))},
    };
    for (const auto& [what, bytes] : bad) {
        CDSDFile dff;
        EXPECT_FALSE(OpenDff(dff, bytes, kOutputNativeDsd)) << what;
    }
}

// Odd-sized chunks with or without their pad byte (top level, inside PROP,
// "DSTF" and "DSTC"), read through readers that deliver one byte per call.
TEST(DsdiffDst, PadBytesOptionalAndPiecewiseReaders) {
    const Coded c = Encode(2, 3, true);  // uncoded frames have an odd size
    ASSERT_EQ(c.frames[0].size() & 1, 1u);
    for (bool pad : {true, false}) {
        const auto odd = [&](const char* id, const std::vector<uint8_t>& body) { return Chunk(id, body, {}, pad); };
        const auto props = [&](const char* compression) {
            return Chunk("PROP",
                         Cat({Text("SND "), odd("XTRA", {1, 2, 3}), Fs(kRate), Chnl(2),
                              odd("CMPR", Cat({Text(compression), {4}, Text("name")})), odd("XTRB", {1})}),
                         {}, pad);
        };
        std::vector<uint8_t> coded = Frte(3);
        for (const auto& frame : c.frames) coded = Cat({coded, odd("DSTF", frame), odd("DSTC", {1, 2, 3})});
        const std::vector<uint8_t> files[] = {
            Form(Cat({odd("COMT", Text("odd")), props("DSD "), Chunk("DSD ", c.interleaved)})),
            Form(Cat({odd("COMT", Text("odd")), props("DST "), Chunk("DST ", coded)}))};
        for (const auto& file : files) {
            for (int64_t maxRead : {int64_t{1}, int64_t{INT32_MAX}}) {
                SCOPED_TRACE(testing::Message() << pad << " " << maxRead << " " << file.size());
                auto* reader = new MemoryReader(file);
                reader->maxRead = maxRead;
                CDSDFile dff;
                ASSERT_TRUE(dff.Open(reader, 1, kOutputNativeDsd, 0, FileNameOfType(KW_T("dff"))));
                EXPECT_EQ(dff.SourceFormat().Channels(), 2);
                EXPECT_TRUE(ReadAllBytes(dff, 1000) == c.interleaved);
            }
        }
    }
}

}  // namespace
