// Plain (uncompressed) DSDIFF files: recognition, delivery in every output
// form, seeking and duration.
#include <gtest/gtest.h>

#include "tests/dsdfile/DsdTestSupport.h"
#include "tools/lib/DsdiffWriter.h"

using namespace dsdtest;

namespace {

// A small plain file around `audio` with the given PROP sub-chunks.
Bytes PlainFile(const Bytes& props, const Bytes& audio) {
    return Form(Cat({Chunk("FVER", Be(0x01050000, 4)), Prop(props), Chunk("DSD ", audio)}));
}

TEST(DsdiffFile, SeekAndDuration) {
    const auto stream = Tones(5, dsdtools::kDsd64Rate, 2822400 / 2);  // 0.5 s
    const auto interleaved = Interleave(stream);
    CDSDFile dff;
    MemoryReader* reader = nullptr;
    ASSERT_TRUE(OpenDff(dff, dsdtools::BuildDsdiff(stream), kOutputNativeDsd, &reader));
    EXPECT_DOUBLE_EQ(dff.GetDuration(), 500.0);

    // 33.3 ms of 5 channels is 58741.7 bytes: 58741 after rounding, 58740 at a frame boundary.
    ASSERT_TRUE(dff.Seek(33.3));
    EXPECT_EQ(reader->GetPosition(), dff.DataStart() + 58740);

    ASSERT_TRUE(dff.Seek(600));  // past the end
    std::vector<uint8_t> buffer(6000);
    EXPECT_EQ(dff.ReadSamples(buffer.data(), 1000), 0u);
    ASSERT_TRUE(dff.Seek(0));
    EXPECT_EQ(dff.ReadSamples(buffer.data(), 1000), 6000u);
    EXPECT_EQ(buffer[3], 0x69);
}

TEST(DsdiffFile, HeaderVariants) {
    const Bytes audio(1000, 0x96);
    auto tooLong = PlainFile(Cat({Chnl(2), Cmpr("DSD ")}), audio);
    tooLong = Cat({{tooLong.begin(), tooLong.end() - 1012}, Chunk("DSD ", audio, 1 << 30)});
    const struct {
        const char* what;
        Bytes file;
        uint32_t rate;
        uint16_t channels;
        uint32_t mask;
    } cases[] = {
        // No "FS  ": 2822400; no "CHNL": two channels, mask 0. Odd-sized
        // unknown chunks, top-level and inside PROP, are followed by a pad byte.
        {"defaults", Form(Cat({Chunk("COMT", Text("odd")), Prop(Cat({Chunk("XTRA", {1, 2, 3}), Cmpr("DSD ")})),
                               Chunk("DSD ", audio)})), 2822400, 2, 0},
        // "FS  " after "CHNL" keeps the mask and recomputes the byte rate.
        {"FS after CHNL", PlainFile(Cat({Chnl(6), Fs(5644800), Cmpr("DSD ")}), audio), 5644800, 6, 0x60F},
        // A sound chunk larger than the file is cut at the file's end.
        {"sound chunk too long", tooLong, 2822400, 2, 0x3},
        // A "DST " chunk before the "DSD " chunk of a plain file is passed over.
        {"DST chunk first", Form(Cat({Prop(Cat({Chnl(1), Cmpr("DSD ")})), Chunk("DST ", Frte(1)), Chunk("DSD ", audio)})),
         2822400, 1, 0x4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CDSDFile dff;
        ASSERT_TRUE(OpenDff(dff, c.file, kOutputNativeDsd));
        EXPECT_EQ(dff.SourceFormat().SampleRate(), c.rate);
        EXPECT_EQ(dff.SourceFormat().AvgBytesPerSec(), c.rate * c.channels / 8);
        EXPECT_EQ(dff.SourceFormat().Channels(), c.channels);
        EXPECT_EQ(dff.SourceFormat().ChannelMask(), c.mask);
        EXPECT_EQ(dff.DataLength(), 1000);
        EXPECT_EQ(dff.DataStart() + dff.DataLength(), int64_t(c.file.size()));
        EXPECT_EQ(ReadAllBytes(dff, 100).size(), 1000u / c.channels * c.channels);
    }
    // Only "dff" selects the parser.
    CDSDFile other;
    EXPECT_FALSE(OpenBytes(other, PlainFile(Cmpr("DSD "), audio), 0, KW_T("DFF")));
}

TEST(DsdiffFile, RefusesWhatItCannotPlay) {
    const std::vector<uint8_t> audio(64, 0x69);
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> bad = {
        {"no CMPR", PlainFile(Cat({Fs(2822400), Chnl(2)}), audio)},
        {"unknown compression", PlainFile(Cmpr("XYZ "), audio)},
        {"no sound chunk", Form(Prop(Cmpr("DSD ")))},
        {"empty sound chunk", PlainFile(Cmpr("DSD "), {})},
        {"zero channels", PlainFile(Cat({Chnl(0), Cmpr("DSD ")}), audio)},
        {"CHNL cut short", PlainFile(Cat({Chunk("CHNL", {0}), Cmpr("DSD ")}), audio)},
        {"CHNL reaching past PROP", PlainFile(Cat({Cmpr("DSD "), Chunk("CHNL", Be(2, 2), 4000)}), audio)},
        {"65 channels", PlainFile(Cat({Chnl(65), Cmpr("DSD ")}), audio)},
        {"rate 0", PlainFile(Cat({Fs(0), Cmpr("DSD ")}), audio)},
        {"rate 64", PlainFile(Cat({Fs(64), Cmpr("DSD ")}), audio)},
        {"rate 2^32 - 1", PlainFile(Cat({Fs(0xFFFFFFFF), Cmpr("DSD ")}), audio)},
        {"CMPR reaching past PROP", PlainFile(Chunk("CMPR", Text("DSD "), 4000), audio)},
        {"PROP not SND", Form(Cat({Chunk("PROP", Cat({Text("XXX "), Cmpr("DSD ")})), Chunk("DSD ", audio)}))},
        {"chunk size beyond the file", Form(Cat({Prop(Cmpr("DSD ")), Chunk("COMT", {}, INT64_MAX), Chunk("DSD ", audio)}))},
        {"chunk size wraps", Form(Cat({Prop(Cmpr("DSD ")), Chunk("COMT", {}, ~uint64_t{11}), Chunk("DSD ", audio)}))},
        {"PROP size wraps", Form(Cat({Chunk("PROP", Cat({Text("SND "), Cmpr("DSD ")}), ~uint64_t{0}), Chunk("DSD ", audio)}))},
        {"form type", [&] { auto f = PlainFile(Cmpr("DSD "), audio); f[12] = 'X'; return f; }()},
        {"truncated header", {'F', 'R', 'M', '8', 0, 0}},
    };
    for (const auto& [what, bytes] : bad) {
        CDSDFile dff;
        EXPECT_FALSE(OpenDff(dff, bytes, kOutputNativeDsd)) << what;
        std::vector<uint8_t> buffer(64);
        EXPECT_EQ(dff.ReadSamples(buffer.data(), 8), 0u) << what;
    }
    // Every prefix of a good file is refused or delivers at most its bytes.
    const auto good = PlainFile(Cat({Fs(2822400), Chnl(2), Cmpr("DSD ")}), audio);
    for (size_t cut = 0; cut < good.size(); ++cut) {
        CDSDFile dff;
        if (OpenDff(dff, {good.begin(), good.begin() + cut}, kOutputNativeDsd)) {
            EXPECT_LE(ReadAllBytes(dff, 7).size(), cut);
        }
    }
}

TEST(DsdiffFile, RealFiles) {
    // (empty10ms.dff's bytes and its PCM against the DSF are checked end to end.)
    CDSDFile dff;
    ASSERT_TRUE(OpenPath(dff, TestDataPath("empty10ms.dff"), kOutputNativeDsd, KW_T("dff")));
    EXPECT_EQ(dff.DataLength(), 7056);
    EXPECT_DOUBLE_EQ(dff.GetDuration(), 10.0);
    ASSERT_TRUE(OpenPath(dff, TestDataPath("5644800-2ch-s01-silence.dff"), kOutputPackedDsdA, KW_T("dff")));
    EXPECT_EQ(dff.SourceFormat().SampleRate(), 5644800u);
    EXPECT_DOUBLE_EQ(dff.GetDuration(), 10.0);
    EXPECT_EQ(ReadAllBytes(dff, 1000).size(), 14112u / 2 * 8);
    // No audio bytes; a DST chunk without frames.
    for (const char* name : {"2822400-1ch-0s-silence.dff", "5644800-2ch-s01-silence-dst.dff"})
        EXPECT_FALSE(OpenPath(dff, TestDataPath(name), kOutputNativeDsd, KW_T("dff"))) << name;
}

}  // namespace
