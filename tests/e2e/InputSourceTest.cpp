// The input source of the loaded plug-in, driven as a host drives it.
#include <gtest/gtest.h>

#include "host/common/KwHostObject.h"
#include "plugin/kwapi/IKwAudioInput.h"
#include "plugin/kwapi/IKwTools.h"
#include "support/KwBase64.h"
#include "support/KwDllString.h"
#include "support/KwPlatform.h"
#include "tags/KwXMLFilename.h"
#include "tests/e2e/E2eSupport.h"

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
    KwPtr<IKwAudioInput> OpenWith(int outputModes) {
        KwPtr<IKwAudioInput> input(plugin.get(&host));
        input->SetInfo(31, KwFromUtf8(std::to_string(outputModes)).c_str());
        EXPECT_EQ(input->Open(HostName(dsf, "dsf").c_str()), 0);
        return input;
    }
};

TEST_F(InputFixture, AnswersForAStereoDsfDeliveredAsNativeDsd) {
    auto input = OpenWith(1);
    EXPECT_EQ(Ask(input.get(), 8), "352800");
    EXPECT_EQ(Ask(input.get(), 9), "2");
    EXPECT_EQ(Ask(input.get(), 10), "8");
    EXPECT_EQ(Ask(input.get(), 0), "5644");  // 705600 bytes/s x 8 / 1000, truncated
    // Length and duration come from the data chunk, padding included:
    // 22 groups of 2 x 4096 bytes for 250 ms of audio.
    EXPECT_EQ(Ask(input.get(), 12), std::to_string(22 * 8192 * 8 / 2));
    EXPECT_EQ(Ask(input.get(), 1), "255");
    KwDllString status(KW_T("untouched"));
    EXPECT_EQ(input->GetInfo(35, &status), 0);  // DSD output: no low-pass text
    EXPECT_EQ(status.Text(), KW_T("untouched"));

    // The output record travels as Base64 with a line feed after every 64 characters.
    const std::string record = Ask(input.get(), 30);
    EXPECT_EQ(record.size(), 3875u);
    EXPECT_EQ(record.substr(record.size() - 2), "==");
    EXPECT_EQ(record[64], '\n');
    EXPECT_NE(record.back(), '\n');
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(KwBase64Decode(KwFromUtf8(record), bytes));
    ASSERT_EQ(bytes.size(), 2860u);
    EXPECT_EQ(bytes[0] | (bytes[1] << 8), 0xFFFE);        // extensible
    EXPECT_EQ(bytes[2], 2);                                // channels
    EXPECT_EQ(bytes[24] | (bytes[25] << 8), 0x0AEF);       // native DSD, least significant bit first

    // Any count is delivered whole, less than a block group and parts of a frame too.
    std::vector<uint8_t> buffer(1 << 16);
    EXPECT_EQ(input->Read(buffer.data(), 4096), 4096);
    EXPECT_EQ(input->Read(buffer.data(), 8193), 8193);
}

TEST_F(InputFixture, PcmOutputAndTheLowPassStatus) {
    auto input = OpenWith(0);
    EXPECT_EQ(Ask(input.get(), 10), "64");
    EXPECT_EQ(Ask(input.get(), 8), "352800");
    EXPECT_EQ(Ask(input.get(), 35), "Safe low-pass filter enabled");
    std::vector<uint8_t> buffer(1 << 16);
    // 65536 bytes are 4096 stereo frames of doubles: one block group.
    EXPECT_EQ(input->Read(buffer.data(), 65536), 65536);
    EXPECT_EQ(input->Read(buffer.data(), 15), 15);  // less than one frame
}

TEST_F(InputFixture, SeekAcceptsCommaAndPoint) {
    auto a = OpenWith(1);
    auto b = OpenWith(1);
    EXPECT_EQ(a->SetInfo(3, KW_T("180,75")), 0);
    EXPECT_EQ(b->SetInfo(3, KW_T("180.75")), 0);
    std::vector<uint8_t> x(8192), y(8192);
    ASSERT_EQ(a->Read(x.data(), 8192), 8192);
    ASSERT_EQ(b->Read(y.data(), 8192), 8192);
    EXPECT_EQ(x, y);
    EXPECT_EQ(a->DoCommand(2), 0);  // the file reader can be aborted
}

TEST_F(InputFixture, OpenFailuresLeaveTheAnswersAtMinusOne) {
    KwPtr<IKwAudioInput> input(plugin.get(&host));
    EXPECT_EQ(input->Open(HostName(dsf, "wav").c_str()), -1);  // no container for that type
    EXPECT_EQ(Ask(input.get(), 9), "-1");
    KwPtr<IKwAudioInput> other(plugin.get(&host));
    EXPECT_EQ(other->Open(HostName(ws / "none.dsf", "dsf").c_str()), -1);
}

}  // namespace
