// The module object's attach counting and the host-library loader.
#include <gtest/gtest.h>

#include "plugin/DSDApp.h"
#include "plugin/Settings.h"
#include "tests/plugin/TestEnv.h"

namespace {

class CountingApp : public CDSDApp {
public:
    bool InitInstance() override {
        ++inits;
        return initResult;
    }
    bool ExitInstance() override {
        ++exits;
        return true;
    }
    int inits = 0;
    int exits = 0;
    bool initResult = true;
};

TEST(ModuleObject, AttachAndDetachAreCounted) {
    CountingApp app;
    auto* handle = reinterpret_cast<KwModuleHandle>(0x1234);
    EXPECT_TRUE(app.DllEntry(handle, kKwProcessAttach, nullptr));
    EXPECT_TRUE(app.DllEntry(nullptr, kKwProcessAttach, nullptr));
    EXPECT_EQ(app.inits, 1);
    EXPECT_EQ(app.ModuleHandle(), handle);  // the first attach sets it
    EXPECT_FALSE(app.Arguments().empty());  // the command line is split at the first attach
    EXPECT_TRUE(app.DllEntry(nullptr, kKwProcessDetach, nullptr));
    EXPECT_EQ(app.exits, 0);
    EXPECT_TRUE(app.DllEntry(nullptr, 7, nullptr));  // other reasons change nothing
    EXPECT_TRUE(app.DllEntry(nullptr, kKwProcessDetach, nullptr));
    EXPECT_EQ(app.exits, 1);
    EXPECT_EQ(app.AttachCount(), 0);
    EXPECT_EQ(KwApp::Current(), &app);

    // The last detach while the process terminates (reserved not null) frees nothing.
    int reserved = 1;
    EXPECT_TRUE(app.DllEntry(nullptr, kKwProcessAttach, nullptr));
    EXPECT_TRUE(app.DllEntry(nullptr, kKwProcessDetach, &reserved));
    EXPECT_EQ(app.exits, 1);
    EXPECT_EQ(app.AttachCount(), 0);
}

TEST(ModuleObject, FailedInitFailsTheLoadAndRunsExit) {
    CountingApp app;
    app.initResult = false;
    EXPECT_FALSE(app.DllEntry(nullptr, kKwProcessAttach, nullptr));
    EXPECT_EQ(app.exits, 1);
}

TEST(LoaderPaths, WindowsRules) {
    using V = std::vector<KwLoadAttempt>;
    const KwString name = KW_T("KwTools.dll");
    // Absolute paths load unchanged with the altered search path.
    EXPECT_EQ(LibraryLoadAttempts(KW_T("C:\\Host"), name, KW_T("D:\\Prog"), true),
              (V{{KW_T("C:\\Host\\KwTools.dll"), 8}}));
    EXPECT_EQ(LibraryLoadAttempts(KW_T("\\\\server\\share\\"), name, KW_T("D:\\Prog"), true),
              (V{{KW_T("\\\\server\\share\\KwTools.dll"), 8}}));
    // A bare name with no program folder goes to the system search.
    EXPECT_EQ(LibraryLoadAttempts(KwString(), name, KwString(), true), (V{{name, 0}}));
    // With a program folder: the folder first, then its x64 subfolder.
    EXPECT_EQ(LibraryLoadAttempts(KwString(), name, KW_T("D:\\Prog"), true),
              (V{{KW_T("D:\\Prog\\KwTools.dll"), 8}, {KW_T("D:\\Prog\\x64\\KwTools.dll"), 8}}));
    // A relative folder is joined with one backslash and stays relative.
    EXPECT_EQ(LibraryLoadAttempts(KW_T("lib"), name, KW_T("D:\\Prog\\"), true),
              (V{{KW_T("D:\\Prog\\lib\\KwTools.dll"), 8}, {KW_T("D:\\Prog\\x64\\lib\\KwTools.dll"), 8}}));
    // "C:" without a backslash is not absolute.
    EXPECT_EQ(LibraryLoadAttempts(KwString(), KW_T("C:KwTools.dll"), KwString(), true),
              (V{{KW_T("C:KwTools.dll"), 0}}));
}

TEST(LoaderPaths, PosixRules) {
    using V = std::vector<KwLoadAttempt>;
    EXPECT_EQ(LibraryLoadAttempts(KW_T("/opt/host"), KW_T("KwTools.so"), KW_T("/prog"), false),
              (V{{KW_T("/opt/host/KwTools.so"), 8}}));
    EXPECT_EQ(LibraryLoadAttempts(KwString(), KW_T("KwTools.so"), KW_T("/prog"), false),
              (V{{KW_T("/prog/KwTools.so"), 8}, {KW_T("/prog/x64/KwTools.so"), 8}}));
}

TEST(Loader, FindsToolsInProgramFolderThenInX64AndLoadsOnce) {
    UnloadHostLibraries clean;
    TempDir dir;
    CopyHostLibraries(dir.Path(), {"KwTools"});
    ScopedEnv program("KW_PROGRAM_FOLDER", dir.Str());
    ScopedEnv config("XDG_CONFIG_HOME", (dir.Path() / "config").string());
    CKwSharedToolsHelper& helper = CKwSharedToolsHelper::Instance();
    const int loadsBefore = helper.ToolsLoadCount();
    IKwTools* first = helper.GetTools();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(helper.GetTools(), first);
    EXPECT_EQ(helper.ToolsLoadCount(), loadsBefore + 1);  // asked twice, loaded once
    EXPECT_EQ(KwModulePath(helper.ToolsModule()), KwFromUtf8((dir.Path() / LibName("KwTools")).string()));
    helper.UnloadAll();
    EXPECT_FALSE(helper.IsToolsLoaded());

    // Only in the x64 subfolder.
    TempDir dir2;
    CopyHostLibraries(dir2.Path() / "x64", {"KwTools"});
    ScopedEnv program2("KW_PROGRAM_FOLDER", dir2.Str());
    ASSERT_NE(helper.GetTools(), nullptr);
    EXPECT_EQ(KwModulePath(helper.ToolsModule()), KwFromUtf8((dir2.Path() / "x64" / LibName("KwTools")).string()));
}

TEST(Loader, MissingLibrariesGiveDefaults) {
    UnloadHostLibraries clean;
    TempDir dir;  // holds no libraries
    ScopedEnv program("KW_PROGRAM_FOLDER", dir.Str());
    CKwSharedToolsHelper& helper = CKwSharedToolsHelper::Instance();
    EXPECT_EQ(helper.GetTools(), nullptr);
    EXPECT_EQ(helper.CreateGenericReader(KW_T("x.dsf")), nullptr);
    EXPECT_FALSE(helper.LoadImageLibrary(KwString()));
    EXPECT_EQ(GetLowPassMode(), 0);
    EXPECT_EQ(GetDstDecodingThreads(), 0);
    EXPECT_FALSE(GetAdd6dB());
    SetLowPassMode(2);  // a silent no-op
    EXPECT_EQ(GetLowPassMode(), 0);
}

TEST(Loader, ALibraryWithoutItsEntryIsFreedAgain) {
    UnloadHostLibraries clean;
    TempDir dir;
    // The image library where the tools library should be: it loads but has no
    // GetKwToolsDLL, so the entry stays empty and a later request tries again.
    fs::copy_file(fs::path(BinDir()) / LibName("KwImage"), dir.Path() / LibName("KwTools"));
    ScopedEnv program("KW_PROGRAM_FOLDER", dir.Str());
    CKwSharedToolsHelper& helper = CKwSharedToolsHelper::Instance();
    EXPECT_EQ(helper.GetTools(), nullptr);
    EXPECT_FALSE(helper.IsToolsLoaded());
    CopyHostLibraries(dir.Path(), {"KwTools"});
    EXPECT_NE(helper.GetTools(), nullptr);
}

TEST(Loader, ReaderAndImageLibrariesStart) {
    UnloadHostLibraries clean;
    ScopedEnv program("KW_PROGRAM_FOLDER", BinDir());
    CKwSharedToolsHelper& helper = CKwSharedToolsHelper::Instance();
    EXPECT_TRUE(helper.LoadReaderLibrary(KwString()));
    EXPECT_TRUE(helper.LoadImageLibrary(KwString()));
    // An absolute folder is used as it is.
    helper.UnloadAll();
    ScopedEnv nowhere("KW_PROGRAM_FOLDER", "/nonexistent");
    EXPECT_TRUE(helper.LoadReaderLibrary(KwFromUtf8(BinDir())));
}

TEST(Settings, RoundTripThroughTheToolsLibrary) {
    UnloadHostLibraries clean;
    TempDir dir;
    ScopedEnv program("KW_PROGRAM_FOLDER", BinDir());
    ScopedEnv config("XDG_CONFIG_HOME", dir.Str());
    EXPECT_EQ(GetLowPassMode(), 0);
    EXPECT_EQ(GetDstDecodingThreads(), 0);
    EXPECT_FALSE(GetAdd6dB());
    SetLowPassMode(5);  // stored unchecked
    EXPECT_EQ(GetLowPassMode(), 5);
    SetDstDecodingThreads(3);
    EXPECT_EQ(GetDstDecodingThreads(), 3);
    // A stored 7 reads as set and is written back as 1.
    KwPtr<IKwSettings> raw(CKwSharedToolsHelper::Instance().GetTools()->OpenSettings(PluginSettingsSection().c_str(), 0));
    ASSERT_TRUE(raw);
    raw->SetInteger(kSettingAdd6dB, 7, 0, 0);
    EXPECT_TRUE(GetAdd6dB());
    SetAdd6dB(GetAdd6dB());
    KwPtr<IKwSettings> again(CKwSharedToolsHelper::Instance().GetTools()->OpenSettings(PluginSettingsSection().c_str(), 0));
    EXPECT_EQ(again->GetInteger(kSettingAdd6dB, 0, 0, 0), 1);
    EXPECT_EQ(PluginSettingsSection(), KW_T("Plugins\\Input\\DSD"));
}

}  // namespace
