#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "support/KwLock.h"
#include "support/KwPlatform.h"

namespace {

// Sets or removes KW_PROGRAM_FOLDER for one test and restores it afterwards.
class ProgramFolderVariable {
public:
    ProgramFolderVariable() {
        if (const char* old = std::getenv(kName)) saved_ = old;
    }
    ~ProgramFolderVariable() {
        if (saved_)
            Set(saved_->c_str());
        else
            Unset();
    }
    void Set(const char* value) { setenv(kName, value, 1); }
    void Unset() { unsetenv(kName); }

private:
    static constexpr const char* kName = "KW_PROGRAM_FOLDER";
    std::optional<std::string> saved_;
};

}  // namespace

TEST(KwPlatform, ProcessorsAndCommandLine) {
    EXPECT_GT(KwGetProcessorCount(), 0u);
    const auto args = KwGetCommandLineArguments();
    ASSERT_FALSE(args.empty());
    const std::string program = KwToUtf8(args[0]);
    ASSERT_FALSE(program.empty());
    if (program.find('/') != std::string::npos) {
        EXPECT_TRUE(std::filesystem::equivalent(program, "/proc/self/exe"));
    }
    EXPECT_EQ(KwLibrarySuffix(), KW_T(".so"));
}

TEST(KwPlatform, ProgramFolderComesFromTheEnvironment) {
    ProgramFolderVariable variable;
    variable.Set("/opt/host program");
    EXPECT_EQ(KwGetProgramFolder(), KW_T("/opt/host program"));
    variable.Set("");  // "use the system search"
    EXPECT_EQ(KwGetProgramFolder(), KwString());
    variable.Unset();
    const std::filesystem::path folder = KwToUtf8(KwGetProgramFolder());
    EXPECT_TRUE(std::filesystem::equivalent(folder, DSD_BIN_DIR)) << folder;
}

TEST(KwPlatform, SystemStringsCarryTheirLength) {
    const KwChar text[] = {KW_T('a'), 0, KW_T('b')};
    KwChar* s = KwSysAllocString(text, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::memcmp(s, text, sizeof text), 0);
    EXPECT_EQ(s[3], 0);
    uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const char*>(s) - sizeof bytes, sizeof bytes);
    EXPECT_EQ(bytes, 3 * sizeof(KwChar));
    KwSysFreeString(s);
    KwChar* empty = KwSysAllocString(nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0);
    KwSysFreeString(empty);
    KwSysFreeString(nullptr);
}

TEST(KwPlatform, LibraryCallsRejectMissingModules) {
    EXPECT_EQ(KwLoadLibrary(KwString(), 0), nullptr);
    EXPECT_EQ(KwLoadLibrary(KW_T("/nonexistent/libnothing.so"), kKwLoadAlteredSearchPath), nullptr);
    EXPECT_EQ(KwGetProcAddress(nullptr, "GetFileInfo"), nullptr);
    KwFreeLibrary(nullptr);
    EXPECT_TRUE(KwModulePath(nullptr).empty());
}

TEST(KwPlatform, CriticalSectionIsReentrant) {
    KwCriticalSection cs;
    KwLockGuard outer(cs);
    EXPECT_TRUE(cs.TryEnter());
    cs.Leave();
}
