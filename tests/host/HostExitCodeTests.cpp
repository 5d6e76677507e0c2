// dsdhost decode's exit code says whether the whole file was delivered: 0
// complete, 2 audio but less than the file announces, 1 nothing.
#include "tests/host/HostTestSupport.h"

using namespace hosttest;

TEST(HostExitCodes, DecodeSaysWhenAudioIsMissing) {
    TempDir dir;
    const std::string group(8192, '\x69');
    const std::string props = DffChunk("FS  ", Be(2822400, 4)) + DffChunk("CHNL", Be(2, 2) + "SLFTSRGT");
    const std::string dst = props + DffChunk("CMPR", "DST \x00\x00");
    struct Case {
        std::string name, bytes;
        int code;
        std::string says;
    } cases[] = {
        {"whole.dsf", Dsf(2, 2822400, 4096, group + group, 8192 * 8), 0, ""},
        // The fmt chunk counts two block groups, but the second one is all zero bytes (padding).
        {"short.dsf", Dsf(2, 2822400, 4096, group + std::string(8192, '\0'), 8192 * 8), 2, "delivered 4096 of the"},
        {"silent.dsf", Dsf(2, 2822400, 4096, std::string(8192, '\0'), 0), 1, "no audio delivered"},
        {"onebyte.dff", Dff(props + DffChunk("CMPR", "DSD \x00\x00"), DffChunk("DSD ", "i")), 1, "no audio"},
        {"dstc.dff", Dff(dst, DffChunk("DST ", DffChunk("FRTE", Be(1, 4) + Be(75, 2)) + DffChunk("DSTC", "abcd"))), 1,
         "no audio"},
    };
    for (const Case& c : cases) {
        for (const char* form : {"native", "pcm"}) {
            const std::string out = dir.Path(std::string("out.") + (*form == 'n' ? "raw" : "wav"));
            const HostRun run =
                RunHost(std::string("decode --output ") + form + " " + Q(dir.Write(c.name, c.bytes)) + " " + Q(out));
            EXPECT_EQ(run.code, c.code) << c.name << " " << form << ": " << run.err;
            EXPECT_NE(run.err.find(c.says), std::string::npos) << c.name << ": " << run.err;
            EXPECT_EQ(std::filesystem::exists(out), c.code != 1) << c.name;
            std::filesystem::remove(out);
        }
    }
}
