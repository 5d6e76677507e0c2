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
    {
        CDSDFile dff;
        ASSERT_TRUE(OpenDff(dff, dsdtools::BuildDsdiffDst(2, kRate, frames), kOutputNativeDsd));
        EXPECT_TRUE(ReadAllBytes(dff, 1000) ==
                    Cat({original(0, 2), silence, original(3, 4), silence, silence, original(6, 8)}));
    }
    const std::vector<uint8_t> twoFrames(c.interleaved.begin(), c.interleaved.begin() + 2 * frameBytes);
    const std::vector<uint8_t> threeFrames(c.interleaved.begin(), c.interleaved.begin() + 3 * frameBytes);
    {
        // A foreign chunk between frames is passed over, and a frame header
        // whose size is negative or reaches past the data is skipped to the
        // next frame: none costs audio. A seek back plays it all again.
        for (const auto& middle :
             {Chunk("JUNK", {1, 2, 3, 4}), Chunk("DSTF", {}, uint64_t{1} << 40), Chunk("DSTF", {}, ~uint64_t{0})}) {
            CDSDFile dff;
            ASSERT_TRUE(OpenDff(dff, withMiddle(middle), kOutputNativeDsd));
            EXPECT_TRUE(ReadAllBytes(dff, 1000) == threeFrames);
            ASSERT_TRUE(dff.Seek(0));
            EXPECT_TRUE(ReadAllBytes(dff, 1000) == threeFrames);
        }
    }
    // An empty frame is one frame of 0x55. A frame far larger than any DST
    // frame has a damaged size: decoding goes on at the next frame, with
    // silence for the frames its bytes could hold.
    for (const auto& middle :
         {Chunk("DSTF", {}), Chunk("DSTF", std::vector<uint8_t>(3 * frameBytes + 65536, 0x12))}) {
        CDSDFile dff;
        ASSERT_TRUE(OpenDff(dff, withMiddle(middle), kOutputNativeDsd));
        const auto out = ReadAllBytes(dff, 1000);
        ASSERT_EQ(out.size() % frameBytes, 0u);
        ASSERT_GE(out.size(), 4 * frameBytes);
        EXPECT_TRUE(std::equal(twoFrames.begin(), twoFrames.end(), out.begin()));
        EXPECT_EQ(std::count(out.begin() + 2 * frameBytes, out.end() - frameBytes, 0x55),
                  ptrdiff_t(out.size() - 3 * frameBytes));
        EXPECT_TRUE(std::equal(out.end() - frameBytes, out.end(), c.interleaved.begin() + 2 * frameBytes));
    }
}

// One damaged byte in any frame chunk header: decoding goes on after it, the
// frames before and after it come back intact, and the timing holds (as many
// frames as the file has, damaged ones as 0x55).
TEST(DsdiffDst, ResynchronisesAfterADamagedFrameHeader) {
    const Coded c = Encode(2, 6, true);
    const size_t frameBytes = 2 * kPerChannel;
    std::vector<uint8_t> body = Frte(6);
    std::vector<size_t> chunkAt;
    for (const auto& f : c.frames) {
        chunkAt.push_back(body.size());
        const auto chunk = Cat({Chunk("DSTF", f), Chunk("DSTC", {0, 0, 0, 1})});
        body.insert(body.end(), chunk.begin(), chunk.end());
    }
    const auto good = DstFile(2, body);
    const size_t dstBody = good.size() - body.size();
    for (size_t i = 0; i < 12; ++i) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            auto file = good;
            file[dstBody + chunkAt[3] + i] ^= flip;
            CDSDFile dff;
            ASSERT_TRUE(OpenDff(dff, file, kOutputNativeDsd));
            const auto out = ReadAllBytes(dff, 5000);
            ASSERT_EQ(out.size(), c.interleaved.size()) << i << " " << int(flip);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + 3 * frameBytes, c.interleaved.begin()));
            EXPECT_TRUE(std::equal(out.end() - frameBytes, out.end(), c.interleaved.end() - frameBytes));
            EXPECT_EQ(dff.GetDuration(), 80.0);
        }
    }
}

TEST(DsdiffDst, HeaderChecks) {
    const Coded c = Encode(2, 2, true);
    const auto frames = Cat({Chunk("DSTF", c.frames[0]), Chunk("DSTF", c.frames[1])});
    // A frame count the data cannot hold (none, or far too many): the
    // duration comes from the frames there.
    for (uint32_t count : {0u, 0xFFFFFFFFu}) {
        CDSDFile dff;
        ASSERT_TRUE(OpenDff(dff, DstFile(2, Cat({Frte(count), frames})), kOutputNativeDsd));
        EXPECT_DOUBLE_EQ(dff.GetDuration(), 2 * 1000.0 / 75);
        EXPECT_TRUE(ReadAllBytes(dff, 1000) == c.interleaved);
    }
    {
        // A plain "DSD " chunk before the "DST " chunk of a DST file is passed over.
        const auto file = Form(Cat({Prop(Cat({Chnl(2), Cmpr("DST ")})), Chunk("DSD ", std::vector<uint8_t>(99, 1)),
                                    Chunk("DST ", Cat({Frte(2), frames}))}));
        CDSDFile dff;
        ASSERT_TRUE(OpenDff(dff, file, kOutputNativeDsd));
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
