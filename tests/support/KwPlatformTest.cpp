#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "support/KwPlatform.h"

// An empty value means "use the system search"; without the variable the
// folder is the running program's.
TEST(KwPlatform, ProgramFolderComesFromTheEnvironment) {
    const char* kName = "KW_PROGRAM_FOLDER";
    const char* old = std::getenv(kName);
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv(kName, "/opt/host program", 1);
    EXPECT_EQ(KwGetProgramFolder(), KW_T("/opt/host program"));
    setenv(kName, "", 1);
    EXPECT_EQ(KwGetProgramFolder(), KwString());
    unsetenv(kName);
    const std::filesystem::path folder = KwToUtf8(KwGetProgramFolder());
    EXPECT_TRUE(std::filesystem::equivalent(folder, DSD_BIN_DIR)) << folder;
    if (saved) setenv(kName, saved->c_str(), 1);
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
