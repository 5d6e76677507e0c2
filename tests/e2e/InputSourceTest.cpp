// The input source of the loaded plug-in, driven as a host drives it.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <tuple>

#include "host/common/KwHostObject.h"
#include "plugin/kwapi/IKwAudioInput.h"
#include "plugin/kwapi/IKwTools.h"
#include "support/KwBase64.h"
#include "support/KwDllString.h"
#include "support/KwPlatform.h"
#include "tags/KwXMLFilename.h"
#include "tests/e2e/E2eSupport.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/DstEncoder.h"

namespace {

using namespace e2e;

struct Plugin {
    KwModuleHandle module = KwLoadLibrary(KwFromUtf8(Bin("dsdinput.so")), kKwLoadAlteredSearchPath);
    KwGetInputSourceFn get = reinterpret_cast<KwGetInputSourceFn>(KwGetProcAddress(module, "GetInputSource"));
    ~Plugin() { KwFreeLibrary(module); }
};

KwString HostName(const fs::path& path, const char* type) {
    KwXMLFilename name(KwFromUtf8(path.string()).c_str());
    name.Items().SetString(KW_T("FileType"), KwFromUtf8(type), false);
    return name.ToText();
}

std::string Ask(IKwAudioInput* input, int32_t code) {
    KwDllString text;
    input->GetInfo(code, &text);
    return KwToUtf8(text.Text());
}

struct InputFixture : ::testing::Test {
    Workspace ws;
    Plugin plugin;
    KwHostObject host;
    fs::path dsf = ws / "stereo.dsf";
    dsdtools::DsdStream stream = Tones(2, 2822400, 2822400 / 4);

    void SetUp() override {
        setenv("KW_PROGRAM_FOLDER", DSD_BIN_DIR, 1);
        ASSERT_NE(plugin.get, nullptr);
        ASSERT_TRUE(dsdtools::WriteDsf(dsf.string(), stream));
    }
    KwPtr<IKwAudioInput> OpenWith(int outputModes, const fs::path& path = {}, const char* type = "dsf") {
        KwPtr<IKwAudioInput> input(plugin.get(&host));
        input->SetInfo(31, KwFromUtf8(std::to_string(outputModes)).c_str());
        EXPECT_EQ(input->Open(HostName(path.empty() ? dsf : path, type).c_str()), 0);
        return input;
    }
    // Plain and DST-coded DSDIFF files of the same stream.
    fs::path WriteDff() {
        EXPECT_TRUE(dsdtools::WriteDsdiff((ws / "plain.dff").string(), stream));
        return ws / "plain.dff";
    }
    fs::path WriteDst(size_t& frames) {
        const auto interleaved = Interleave(stream);
        const auto coded = dsdtools::DstEncodeStream(interleaved.data(), interleaved.size(), 2, 2822400);
        frames = coded.size();
        const fs::path path = ws / "coded.dff";
        EXPECT_TRUE(dsdtools::WriteDsdiffDst(path.string(), 2, 2822400, coded));
        return path;
    }
};

// Reads to the end in pieces whose sizes `next` chooses.
template <class Next>
std::vector<uint8_t> ReadToEnd(IKwAudioInput* input, Next next) {
    std::vector<uint8_t> all, piece(1 << 20);
    for (;;) {
        const int32_t size = next();
        const int32_t got = input->Read(piece.data(), size);
        if (got <= 0) return all;
        EXPECT_LE(got, size);
        all.insert(all.end(), piece.begin(), piece.begin() + got);
    }
}

TEST_F(InputFixture, AnswersReadsAndSeekTextsForNativeDsdAndPcm) {
    // Length and duration come from the data chunk, padding included: 22
    // groups of 2 x 4096 bytes for 250 ms of audio. The bit rate is 705600
    // bytes/s x 8 / 1000, truncated.
    const std::tuple<int, int, std::string> answers[] = {
        {1, 8, "352800"}, {1, 9, "2"}, {1, 10, "8"}, {1, 0, "5644"}, {1, 12, std::to_string(22 * 8192 * 8 / 2)},
        {1, 1, "255"}, {0, 10, "64"}, {0, 8, "352800"}, {0, 35, "Safe low-pass filter enabled"}};
    for (const auto& [modes, code, expected] : answers) EXPECT_EQ(Ask(OpenWith(modes).get(), code), expected) << code;
    auto input = OpenWith(1);
    KwDllString status(KW_T("untouched"));
    EXPECT_EQ(input->GetInfo(35, &status), 0);  // DSD output: no low-pass text
    EXPECT_EQ(status.Text(), KW_T("untouched"));
    // The output record travels as Base64 with a line feed after every 64 characters.
    const std::string record = Ask(input.get(), 30);
    EXPECT_EQ(record.size(), 3875u);
    EXPECT_EQ(record[64], '\n');
    EXPECT_TRUE(record.ends_with("=="));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(KwBase64Decode(KwFromUtf8(record), bytes));
    ASSERT_EQ(bytes.size(), 2860u);
    EXPECT_EQ(bytes[0] | (bytes[1] << 8), 0xFFFE);   // extensible
    EXPECT_EQ(bytes[2], 2);                           // channels
    EXPECT_EQ(bytes[24] | (bytes[25] << 8), 0x0AEF);  // native DSD, least significant bit first
    // Any count is delivered whole: less than a block group, parts of a frame.
    std::vector<uint8_t> x(1 << 16), y(1 << 16);
    EXPECT_EQ(input->Read(x.data(), 8193), 8193);
    auto pcm = OpenWith(0);
    EXPECT_EQ(pcm->Read(x.data(), 65536), 65536);
    EXPECT_EQ(pcm->Read(x.data(), 15), 15);
    // A stored mode outside 0 to 3 plays as Safe and says so; Off says nothing.
    const fs::path store = ws / "config/dsdhost/settings.ini";
    fs::create_directories(store.parent_path());
    // (A pooled conversion context keeps its last user's filter state until
    // a seek resets it: each read starts with one.)
    std::vector<uint8_t> safe(65536), other(65536);
    auto first = OpenWith(0);
    ASSERT_EQ(first->SetInfo(3, KW_T("0")), 0);
    ASSERT_EQ(first->Read(safe.data(), 65536), 65536);
    for (const char* stored : {"99", "-1", "4", "3"}) {
        std::ofstream(store) << "[Plugins\\Input\\DSD]\nLow-pass mode=" << stored << "\n";
        auto again = OpenWith(0);
        ASSERT_EQ(again->SetInfo(3, KW_T("0")), 0);
        ASSERT_EQ(again->Read(other.data(), 65536), 65536);
        const bool off = std::string(stored) == "3";
        EXPECT_EQ(Ask(again.get(), 35), off ? "" : "Safe low-pass filter enabled") << stored;
        EXPECT_EQ(other == safe, !off) << stored;
    }
    // Seek times with a decimal comma or point.
    auto a = OpenWith(1), b = OpenWith(1);
    EXPECT_EQ(a->SetInfo(3, KW_T("180,75")), 0);
    EXPECT_EQ(b->SetInfo(3, KW_T("180.75")), 0);
    ASSERT_EQ(a->Read(x.data(), 8192), 8192);
    ASSERT_EQ(b->Read(y.data(), 8192), 8192);
    EXPECT_TRUE(std::equal(x.begin(), x.begin() + 8192, y.begin()));
    EXPECT_EQ(a->DoCommand(2), 0);  // the file reader can be aborted
}

// A host that reads in random sizes from 1 byte to 1 MiB gets the bytes of one
// that reads in 1 MiB pieces: every container, every output form.
TEST_F(InputFixture, AnyReadSizeGivesTheSameBytes) {
    size_t frames = 0;
    const std::pair<fs::path, const char*> files[] = {{dsf, "dsf"}, {WriteDff(), "dff"}, {WriteDst(frames), "dff"}};
    std::mt19937 random(8);
    std::uniform_real_distribution<double> logSize(0.0, std::log(double(1 << 20)));
    for (const auto& [path, type] : files) {
        for (int modes : {1, 2, 0}) {
            auto whole = OpenWith(modes, path, type);
            auto pieces = OpenWith(modes, path, type);
            const auto expected = ReadToEnd(whole.get(), [] { return int32_t{1} << 20; });
            const auto got = ReadToEnd(pieces.get(), [&] { return static_cast<int32_t>(std::exp(logSize(random))); });
            EXPECT_GT(expected.size(), 100000u) << path << " " << modes;
            EXPECT_TRUE(got == expected) << path << " " << modes << ": " << got.size() << " " << expected.size();
        }
    }
}

// Code 12 of a DSDIFF file: duration x 8 x output rate / 1000, rounded.
TEST_F(InputFixture, DsdiffLengthFromTheDuration) {
    size_t frames = 0;
    const fs::path plain = WriteDff(), coded = WriteDst(frames);
    EXPECT_EQ(Ask(OpenWith(0, plain, "dff").get(), 12), std::to_string(352800 * 8 / 4));
    EXPECT_EQ(Ask(OpenWith(1, plain, "dff").get(), 12), std::to_string(352800 * 8 / 4));
    const double duration = static_cast<double>(frames) * 4704 * 2 * 1000.0 / 705600;
    EXPECT_EQ(Ask(OpenWith(0, coded, "dff").get(), 12), std::to_string(std::llround(duration * 8 * 352800 / 1000)));
}

// A second Open replaces everything the first one set; a failed one leaves
// every answer at -1 (a missing file, a type without a container).
TEST_F(InputFixture, SecondOpenStartsAfresh) {
    KwPtr<IKwAudioInput> input(plugin.get(&host));
    input->SetInfo(31, KW_T("1"));
    ASSERT_EQ(input->Open(HostName(dsf, "dsf").c_str()), 0);
    std::vector<uint8_t> buffer(100);
    ASSERT_EQ(input->Read(buffer.data(), 100), 100);  // leaves output waiting
    ASSERT_EQ(input->Open(HostName(WriteDff(), "dff").c_str()), 0);
    EXPECT_EQ(Ask(input.get(), 1), "250");
    ASSERT_EQ(input->Read(buffer.data(), 2), 2);
    EXPECT_EQ(buffer[0], stream.channels[0][0]);  // the new file from its start
    EXPECT_EQ(buffer[1], stream.channels[1][0]);
    for (const auto& [path, type] : {std::pair{ws / "none.dsf", "dsf"}, {dsf, "wav"}}) {
        EXPECT_EQ(input->Open(HostName(path, type).c_str()), -1);
        for (int code : {0, 1, 8, 9, 10, 12}) EXPECT_EQ(Ask(input.get(), code), "-1") << code;
        EXPECT_EQ(input->GetInfo(30, nullptr), -1);
        EXPECT_EQ(input->Read(buffer.data(), 2), 0);
    }
}

}  // namespace
