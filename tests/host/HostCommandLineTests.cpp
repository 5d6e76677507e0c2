// dsdhost's command line: why a file cannot be opened, outputs that must not
// destroy anything, and names that are not UTF-8.
#include <sys/stat.h>

#include "tests/host/HostTestSupport.h"

using namespace hosttest;

namespace {

const std::string kData = std::string(DSD_TESTDATA_DIR) + "/";
const std::string kProps = DffChunk("FS  ", Be(2822400, 4)) + DffChunk("CHNL", Be(2, 2) + "SLFTSRGT");

std::string DsfAt(uint32_t rate) { return Dsf(2, rate, 4096, std::string(8192, '\x69'), 4096 * 8); }

}  // namespace

TEST(HostCommandLine, OpenFailuresSayWhy) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path("folder.dsf"));
    ASSERT_EQ(mkfifo(dir.Path("fifo.dsf").c_str(), 0644), 0);
    std::string badFmt = DsfAt(2822400);
    badFmt.replace(28, 4, "fmx ");
    struct Case {
        std::string name, bytes, says;
    } cases[] = {
        {"missing.dsf", "", "no such file"},
        {"folder.dsf", "", "a folder"},
        {"fifo.dsf", "", "not a regular file"},  // and returns at once instead of waiting for a writer
        {"empty.dsf", "-", "the file is empty"},
        {"text.dsf", "hello, world\n", "not a DSD file"},
        {"fmt.dsf", badFmt, "damaged DSF header: the chunk at offset 28 is \"fmx \""},
        {"rate.dsf", DsfAt(64), "sampling frequency is 64 Hz"},
        {"channels.dsf", Dsf(0, 2822400, 4096, std::string(4096, 'i'), 8), "channel count is 0"},
        {"nocmpr.dff", Dff(kProps, DffChunk("DSD ", "iiii")), "has no compression type (CMPR)"},
        {"named.dff", DsfAt(2822400), "a DSF file, but its name ends in .dff"},
    };
    for (const Case& c : cases) {
        if (c.bytes == "-") dir.Write(c.name, "");
        if (c.bytes.size() > 1) dir.Write(c.name, c.bytes);
        for (const char* command : {"info ", "decode "}) {
            const HostRun run =
                RunHost(command + Q(dir.Path(c.name)) + (*command == 'd' ? " " + Q(dir.Path("o.wav")) : ""));
            EXPECT_EQ(run.code, 1) << c.name;
            EXPECT_NE(run.err.find(c.says), std::string::npos) << c.name << ": " << run.err;
        }
    }
    if (getuid() != 0) {  // the superuser reads everything
        dir.Write("locked.dsf", DsfAt(2822400));
        chmod(dir.Path("locked.dsf").c_str(), 0);
        EXPECT_NE(RunHost("info " + Q(dir.Path("locked.dsf"))).err.find("permission denied"), std::string::npos);
    }
}

TEST(HostCommandLine, OutputThatIsTheInputIsRefused) {
    TempDir dir;
    const std::string original = DsfAt(2822400);
    const std::string in = dir.Write("in.dsf", original);
    std::filesystem::create_symlink(in, dir.Path("link.dsf"));
    std::filesystem::create_hard_link(in, dir.Path("hard.dsf"));
    for (const std::string& out : {in, dir.Path("./in.dsf"), dir.Path("../" + std::filesystem::path(dir.Path()).filename().string() + "/in.dsf"),
                                   dir.Path("link.dsf"), dir.Path("hard.dsf")}) {
        const HostRun run = RunHost("decode --output native " + Q(in) + " " + Q(out));
        EXPECT_EQ(run.code, 1) << out;
        EXPECT_NE(run.err.find("is the input file itself"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(in), original);
    }
    // A good decode through a symlink replaces the file it points to; the link stays.
    const std::string target = dir.Write("target.raw", "old");
    std::filesystem::create_symlink(target, dir.Path("out.raw"));
    ASSERT_EQ(RunHost("decode --output native " + Q(in) + " " + Q(dir.Path("out.raw"))).code, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("out.raw")));
    EXPECT_EQ(ReadFile(target).size(), 8192u);
}

TEST(HostCommandLine, FailedDecodeLeavesTheOldOutputAndNoTemporaryFile) {
    TempDir dir;
    const std::string out = dir.Write("out.wav", "keep me");
    // A file that plays but holds no audio: nothing to write.
    const HostRun run = RunHost("decode " + Q(kData + "2822400-1ch-0s-silence.dsf") + " " + Q(out));
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(ReadFile(out), "keep me");
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(HostCommandLine, FileNamesThatAreNotUtf8Open) {
    TempDir dir;
    const std::string name = dir.Write("caf\xE9 \xFF.dsf", ReadFile(kData + "empty10ms.dsf"));
    const std::string out = dir.Path("out.raw");
    EXPECT_EQ(RunHost("decode --output native " + Q(name) + " " + Q(out)).code, 0);
    EXPECT_EQ(ReadFile(out).size(), 8192u);
    EXPECT_EQ(RunHost("info " + Q(name)).code, 0);
}
