// The plug-in library as a foreign host sees it: loaded by path, its two
// exports resolved by name, its objects driven through raw vtable slots.
#include <gtest/gtest.h>

#include "host/common/KwHostObject.h"
#include "plugin/kwapi/IKwAudioFileInfo.h"
#include "plugin/kwapi/IKwAudioInput.h"
#include "plugin/kwapi/IKwTools.h"
#include "support/KwDllString.h"
#include "tests/plugin/TestEnv.h"

namespace {

template <class R, class... Args>
R CallSlot(void* object, int slot, Args... args) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, Args...)>(table[slot])(object, args...);
}

struct PluginFixture : ::testing::Test {
    KwModuleHandle module = nullptr;
    KwGetInputSourceFn getInput = nullptr;
    KwGetFileInfoFn getInfo = nullptr;
    KwHostObject host;

    void SetUp() override {
        module = KwLoadLibrary(KwFromUtf8(BinDir() + "/" + LibName("dsdinput")), kKwLoadAlteredSearchPath);
        ASSERT_NE(module, nullptr);
        getInput = reinterpret_cast<KwGetInputSourceFn>(KwGetProcAddress(module, "GetInputSource"));
        getInfo = reinterpret_cast<KwGetFileInfoFn>(KwGetProcAddress(module, "GetFileInfo"));
        ASSERT_NE(getInput, nullptr);
        ASSERT_NE(getInfo, nullptr);
    }
    void TearDown() override { KwFreeLibrary(module); }

    std::string Info(void* source, int32_t code, int32_t* rc) {
        KwDllString text(KW_T("untouched"));
        *rc = CallSlot<int32_t>(source, 2, code, static_cast<IKwDllString*>(&text));
        return KwToUtf8(text.Text());
    }
};

TEST_F(PluginFixture, OnlyTheTwoEntryPointsAreExported) {
    EXPECT_EQ(KwGetProcAddress(module, "SelectReader"), nullptr);
    EXPECT_EQ(KwGetProcAddress(module, "KwFromUtf8"), nullptr);
}

TEST_F(PluginFixture, InputSourceBeforeOpenThroughRawSlots) {
    void* source = getInput(&host);
    ASSERT_NE(source, nullptr);
    int32_t rc = 0;
    for (int32_t code : {0, 1, 8, 9, 10, 12}) {
        EXPECT_EQ(Info(source, code, &rc), "-1") << code;
        EXPECT_EQ(rc, 0);
    }
    EXPECT_EQ(Info(source, 24, &rc), "4");
    EXPECT_EQ(Info(source, 27, &rc), "1");
    EXPECT_EQ(Info(source, 28, &rc), "0");
    EXPECT_EQ(Info(source, 34, &rc), "0");
    EXPECT_EQ(Info(source, 2, &rc), "DSD input plug-in");
    EXPECT_EQ(Info(source, 30, &rc), "untouched");  // no file object yet
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(Info(source, 99, &rc), "untouched");
    EXPECT_EQ(rc, -1);
    Info(source, 35, &rc);
    EXPECT_EQ(rc, 0);
    // SetInfo (slot 3): 31 and 32 store and answer -1, 33 answers 0.
    EXPECT_EQ(CallSlot<int32_t>(source, 3, int32_t{31}, KW_T("1")), -1);
    EXPECT_EQ(CallSlot<int32_t>(source, 3, int32_t{32}, KW_T("2822400")), -1);
    EXPECT_EQ(CallSlot<int32_t>(source, 3, int32_t{33}, KW_T("  12")), 0);
    EXPECT_EQ(CallSlot<int32_t>(source, 3, int32_t{3}, KW_T("1000")), -1);  // nothing to seek in
    // DoCommand (slot 4).
    EXPECT_EQ(CallSlot<int32_t>(source, 4, int32_t{4}), 1);
    EXPECT_EQ(CallSlot<int32_t>(source, 4, int32_t{2}), -1);  // no reader
    EXPECT_EQ(CallSlot<int32_t>(source, 4, int32_t{9}), -1);
    // Open (slot 1) of a file that does not exist fails; the answers stay -1.
    EXPECT_EQ(CallSlot<int32_t>(source, 1, KW_T("/nonexistent/file.dsf")), -1);
    EXPECT_EQ(Info(source, 8, &rc), "-1");
    uint8_t buffer[16];
    EXPECT_EQ(CallSlot<int32_t>(source, 5, static_cast<void*>(buffer), int32_t{16}), 0);
    // The base class's two, right after the interface's: FillBuffer (slot 6)
    // has nothing to fill from, ResetBuffer (slot 7) answers 0; the object lives on.
    EXPECT_EQ(CallSlot<int32_t>(source, 6), -1);
    EXPECT_EQ(CallSlot<int32_t>(source, 7), 0);
    EXPECT_EQ(Info(source, 24, &rc), "4");
    // Slot 0: the deleting destructor.
    CallSlot<void>(source, 0, uint32_t{1});
}

TEST_F(PluginFixture, FileInfoBeforeOpenThroughRawSlots) {
    IKwAudioFileInfo* info = nullptr;
    EXPECT_EQ(getInfo(&host, &info), 1);
    ASSERT_NE(info, nullptr);
    KwDllString text;
    EXPECT_FALSE(CallSlot<bool>(info, 1, KW_T("Bitrate"), static_cast<IKwDllString*>(&text)));
    EXPECT_FALSE(CallSlot<bool>(info, 2, KW_T("Title"), KW_T("x")));
    EXPECT_TRUE(CallSlot<bool>(info, 3, static_cast<IKwDllString*>(&text)));
    EXPECT_EQ(text.Text(), KW_T("ID3v2 Tag: none"));
    EXPECT_EQ(CallSlot<int32_t>(info, 6, int32_t{1}), 0);
    EXPECT_EQ(CallSlot<int32_t>(info, 6, int32_t{0}), -1);
    EXPECT_EQ(CallSlot<int32_t>(info, 6, int32_t{5}), -1);
    EXPECT_TRUE(CallSlot<bool>(info, 5));
    CallSlot<void>(info, 0, uint32_t{1});
}

}  // namespace
