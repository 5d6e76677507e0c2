// Reader selection and the wrapping reader, through the real host libraries.
#include <gtest/gtest.h>

#include "host/common/KwFileReader.h"
#include "plugin/WrappingReader.h"
#include "tests/plugin/TestEnv.h"

namespace {

using RegisterFn = bool (*)(const KwChar*);

struct ReaderFixture : ::testing::Test {
    UnloadHostLibraries clean;
    TempDir dir;
    fs::path file = dir.Path() / "audio.dsf";
    KwString fileName = KwFromUtf8(file.string());
    ScopedEnv config{"XDG_CONFIG_HOME", (dir.Path() / "config").string()};

    void SetUp() override {
        std::string bytes(1000, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
        WriteFile(file, bytes);
    }
    IKwReader* OpenHostReader() {
        auto* reader = new KwFileReader(fileName);
        reader->SetOption(KW_T("READ_ONLY"), KW_T("1"));
        EXPECT_TRUE(reader->Open());
        return reader;
    }
    void SetPlayFromMemory(int value) {
        IKwTools* tools = CKwSharedToolsHelper::Instance().GetTools();
        ASSERT_NE(tools, nullptr);
        KwPtr<IKwSettings> engine(tools->OpenSettings(KW_T("Playback Engine"), 0));
        ASSERT_TRUE(engine);
        engine->SetInteger(KW_T("Play Files From Memory"), value, 0, 0);
    }
};

TEST_F(ReaderFixture, WebAddressesKeepTheHostReaderWithoutAskingTheTools) {
    ScopedEnv program("KW_PROGRAM_FOLDER", BinDir());
    for (const KwChar* url : {KW_T("HtTpS://example.invalid/a.dsf"), KW_T("http://example.invalid/a.dsf")}) {
        IKwReader* host = OpenHostReader();
        uint8_t fromMemory = 0;
        EXPECT_EQ(SelectReader(host, url, fromMemory), host);
        EXPECT_EQ(fromMemory, 0);
        KwDestroy(host);
    }
    EXPECT_FALSE(CKwSharedToolsHelper::Instance().IsToolsLoaded());
}

TEST_F(ReaderFixture, AnInMemoryCopyIsWrappedAndRewound) {
    ScopedEnv program("KW_PROGRAM_FOLDER", BinDir());
    ASSERT_NE(CKwSharedToolsHelper::Instance().GetTools(), nullptr);
    auto reg = reinterpret_cast<RegisterFn>(
        KwGetProcAddress(CKwSharedToolsHelper::Instance().ToolsModule(), "KwToolsRegisterMemoryCopy"));
    ASSERT_NE(reg, nullptr);
    ASSERT_TRUE(reg(fileName.c_str()));
    IKwReader* copy = CKwSharedToolsHelper::Instance().GetTools()->GetMemoryCopy(fileName.c_str());
    ASSERT_NE(copy, nullptr);
    copy->Seek(100, kKwSeekBegin);

    uint8_t fromMemory = 0;
    IKwReader* selected = SelectReader(OpenHostReader(), fileName, fromMemory);
    EXPECT_EQ(fromMemory, 1);
    auto* wrapper = dynamic_cast<CWrappingReader*>(static_cast<VBaseReader*>(selected));
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->Wrapped(), copy);
    EXPECT_EQ(selected->GetPosition(), 0);  // rewound before use
    EXPECT_EQ(selected->GetSize(), 1000);
    uint8_t b[4];
    EXPECT_EQ(selected->Read(b, 4), 4);
    EXPECT_EQ(b[1], 7);
    EXPECT_TRUE(selected->IsOpen());
    KwDestroy(selected);
    // The shared copy outlives the wrapper.
    copy->Seek(10, kKwSeekBegin);
    EXPECT_EQ(copy->Read(b, 1), 1);
    EXPECT_EQ(b[0], 70);
}

TEST_F(ReaderFixture, PlayFilesFromMemoryUsesTheReaderLibrary) {
    ScopedEnv program("KW_PROGRAM_FOLDER", BinDir());
    SetPlayFromMemory(1);
    uint8_t fromMemory = 0;
    IKwReader* host = OpenHostReader();
    IKwReader* selected = SelectReader(host, fileName, fromMemory);
    ASSERT_NE(selected, nullptr);
    EXPECT_NE(selected, host);
    EXPECT_EQ(fromMemory, 1);
    EXPECT_EQ(selected->GetSize(), 1000);
    KwDestroy(selected);
    SetPlayFromMemory(0);
    host = OpenHostReader();
    fromMemory = 0;
    EXPECT_EQ(SelectReader(host, fileName, fromMemory), host);
    EXPECT_EQ(fromMemory, 0);
    KwDestroy(host);
}

// Without the reader library, or without the tools library, the host reader stays.
TEST_F(ReaderFixture, MissingLibrariesKeepTheHostReader) {
    for (bool tools : {true, false}) {
        UnloadHostLibraries reset;
        TempDir program;
        if (tools) CopyHostLibraries(program.Path(), {"KwTools"});
        ScopedEnv env("KW_PROGRAM_FOLDER", program.Str());
        if (tools) SetPlayFromMemory(1);
        IKwReader* host = OpenHostReader();
        uint8_t fromMemory = 0;
        EXPECT_EQ(SelectReader(host, fileName, fromMemory), host) << tools;
        EXPECT_EQ(fromMemory, 0);
        KwDestroy(host);
    }
}

// A reader whose size the test sets.
class SizedReader : public VBaseReader {
public:
    explicit SizedReader(int64_t size) : size_(size) {}
    bool Open() override { return true; }
    void Abort() override {}
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t GetSize() override { return size_; }
    int64_t GetPosition() override { return 0; }
    int64_t Seek(int64_t, int32_t) override { return 0; }
    bool Truncate() override { return false; }
    bool HasCapability(int32_t) override { return false; }

private:
    int64_t size_;
};

TEST(VBaseReaderTest, ResolvePositionAndDefaults) {
    SizedReader reader(100);
    EXPECT_EQ(reader.ResolvePosition(0, -10, kKwSeekEnd), 90);
    EXPECT_EQ(reader.ResolvePosition(0, 10, kKwSeekEnd), 90);
    EXPECT_EQ(reader.ResolvePosition(5, -10, kKwSeekCurrent), 0);
    EXPECT_EQ(reader.ResolvePosition(5, 10, kKwSeekCurrent), 15);
    EXPECT_EQ(reader.ResolvePosition(5, -3, 7), 0);
    EXPECT_EQ(reader.ResolvePosition(INT64_MAX, INT64_MAX, kKwSeekCurrent), INT64_MAX);
    EXPECT_EQ(reader.ResolvePosition(0, INT64_MIN, kKwSeekEnd), 0);
    SizedReader negative(-5);
    EXPECT_EQ(negative.GetSizeNonNegative(), 0);
    EXPECT_EQ(reader.Reserved30(), -1.0);

    reader.SetOptions(KW_T("A|1|B|two|C"));
    EXPECT_EQ(reader.OptionValue(KW_T("A")), KW_T("1"));
    EXPECT_EQ(reader.OptionValue(KW_T("B")), KW_T("two"));
    EXPECT_EQ(reader.OptionValue(KW_T("C")), KW_T(""));
    KwChar* value = reader.GetOption(KW_T("B"));
    EXPECT_EQ(KwString(value), KW_T("two"));
    KwSysFreeString(value);
}

TEST(WrappingReaderTest, ForwardsAndNeverDestroysTheWrapped) {
    SizedReader inner(42);
    auto* wrapper = new CWrappingReader(&inner);
    EXPECT_EQ(wrapper->GetState(), inner.GetState());
    EXPECT_EQ(wrapper->GetSize(), 42);
    wrapper->SetOption(KW_T("READ_ONLY"), KW_T("1"));
    EXPECT_EQ(inner.OptionValue(KW_T("READ_ONLY")), KW_T("1"));
    KwDestroy(static_cast<IKwReader*>(wrapper));
    EXPECT_EQ(inner.GetSize(), 42);  // still alive
}

}  // namespace
