// The settings store through dsdhost: value checks, concurrent writers, and
// files that the store cannot wholly read.
#include "host/common/KwSettingsStore.h"
#include "tests/host/HostTestSupport.h"

using namespace hosttest;

namespace {

class HostSettingsStore : public ::testing::Test {
protected:
    HostRun Set(const std::string& key, const std::string& value) {
        return RunHost("settings set " + Q(key) + " " + Q(value), dir_.Path());
    }
    std::string File() const { return dir_.Path("dsdhost/settings.ini"); }
    void WriteFile(const std::string& text) {
        std::filesystem::create_directories(dir_.Path("dsdhost"));
        dir_.Write("dsdhost/settings.ini", text);
    }
    TempDir dir_;
};

}  // namespace

TEST_F(HostSettingsStore, ValuesOutsideTheirRangeAreRefused) {
    const struct {
        const char* key;
        const char* value;
        bool stored;
    } cases[] = {
        {"Low-pass mode", "3", true},          {"Low-pass mode", "99", false},        {"Low-pass mode", "-1", false},
        {"Low-pass mode", "4", false},         {"Low-pass mode", "text", false},      {"Low-pass mode", "1.5", false},
        {"Low-pass mode", "2147483648", false}, {"DST Decoding Threads", "4", true}, {"DST Decoding Threads", "5", false},
        {"Add 6dB", "1", true},                {"Add 6dB", "2", false},               {"Add 6dB", "", false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(File());
        const HostRun run = Set(c.key, c.value);
        EXPECT_EQ(run.code, c.stored ? 0 : 1) << c.key << "=" << c.value;
        EXPECT_EQ(std::filesystem::exists(File()), c.stored) << c.key << "=" << c.value;
        if (!c.stored) {
            EXPECT_NE(run.err.find("takes a whole number from 0 to"), std::string::npos) << run.err;
        }
    }
}

TEST_F(HostSettingsStore, ConcurrentWritersLoseNothing) {
    const std::string host = Q(std::string(DSD_BIN_DIR) + "/dsdhost");
    for (int round = 0; round < 12; ++round) {
        const std::string v = std::to_string(round % 2 ? 1 : 0), w = std::to_string(round % 4);
        std::string script = "export XDG_CONFIG_HOME=" + Q(dir_.Path()) + "; ";
        script += host + " settings set 'Low-pass mode' " + w + " & ";
        script += host + " settings set 'DST Decoding Threads' " + w + " & ";
        script += host + " settings set 'Add 6dB' " + v + " & wait";
        ASSERT_EQ(std::system(("sh -c " + Q(script)).c_str()), 0);
        const KwSettingsStore store(KwFromUtf8(File()));
        const KwChar* section = KW_T("Plugins\\Input\\DSD");
        EXPECT_EQ(store.GetInteger(section, KW_T("Low-pass mode"), -1), std::stoi(w)) << round;
        EXPECT_EQ(store.GetInteger(section, KW_T("DST Decoding Threads"), -1), std::stoi(w)) << round;
        EXPECT_EQ(store.GetInteger(section, KW_T("Add 6dB"), -1), std::stoi(v)) << round;
    }
}

TEST_F(HostSettingsStore, LinesItCannotReadAreKeptAndReported) {
    const std::string kept = "stray word\n[Plugins\\Input\\DSD]\nLow-pass mode=2\nDST Decoding Threads=two\n"
                             "Unknown=99999999999\n; note\n[Other]\nX=1\n";
    WriteFile(kept);
    const HostRun run = Set("Add 6dB", "1");
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(ReadFile(File()), "stray word\n[Plugins\\Input\\DSD]\nLow-pass mode=2\nDST Decoding Threads=two\n"
                                "Unknown=99999999999\nAdd 6dB=1\n; note\n[Other]\nX=1\n");
    for (const char* line : {"line 1 (\"stray word\")", "line 4", "line 5"})
        EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
    const KwSettingsStore store(KwFromUtf8(File()));
    EXPECT_EQ(store.GetInteger(KW_T("Plugins\\Input\\DSD"), KW_T("Low-pass mode"), -1), 2);
    EXPECT_EQ(store.GetInteger(KW_T("Plugins\\Input\\DSD"), KW_T("DST Decoding Threads"), -1), -1);
}

TEST_F(HostSettingsStore, AFileTooLargeToReadIsNotReplaced) {
    const std::string big = "[Plugins\\Input\\DSD]\nLow-pass mode=1\n" + std::string(1100000, ';') + "\n";
    WriteFile(big);
    const HostRun run = Set("Add 6dB", "1");
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("cannot be read whole"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(File()), big);
}

TEST_F(HostSettingsStore, TemporaryFilesOfKilledWritersAreRemoved) {
    WriteFile("[Plugins\\Input\\DSD]\nAdd 6dB=1\n");
    dir_.Write("dsdhost/settings.ini.tmp123", "half");
    dir_.Write("dsdhost/settings.ini.tmp98765", "");
    dir_.Write("dsdhost/other.tmp1", "not ours");
    EXPECT_EQ(Set("Low-pass mode", "1").code, 0);
    EXPECT_FALSE(std::filesystem::exists(dir_.Path("dsdhost/settings.ini.tmp123")));
    EXPECT_FALSE(std::filesystem::exists(dir_.Path("dsdhost/settings.ini.tmp98765")));
    EXPECT_TRUE(std::filesystem::exists(dir_.Path("dsdhost/other.tmp1")));
}
