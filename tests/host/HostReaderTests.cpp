// The reader library and the host object, driven through raw vtable slots.
#include <unistd.h>

#include "host/common/KwHostObject.h"
#include "plugin/kwapi/IKwReader.h"
#include "plugin/kwapi/IKwTools.h"
#include "tests/host/HostTestSupport.h"

using namespace hosttest;

namespace {

struct RawReader {
    void* r;
    bool Open() { return Call<bool>(r, kReaderSlotOpen); }
    int32_t Read(void* b, int32_t n) { return Call<int32_t, void*, int32_t>(r, kReaderSlotRead, b, n); }
    int32_t Write(const void* b, int32_t n) { return Call<int32_t, const void*, int32_t>(r, kReaderSlotWrite, b, n); }
    int64_t Size() { return Call<int64_t>(r, kReaderSlotGetSize); }
    int64_t Position() { return Call<int64_t>(r, kReaderSlotGetPosition); }
    int64_t Seek(int64_t o, int32_t origin) { return Call<int64_t, int64_t, int32_t>(r, kReaderSlotSeek, o, origin); }
    bool Truncate() { return Call<bool>(r, kReaderSlotTruncate); }
    bool IsOpen() { return Call<bool>(r, kReaderSlotIsOpen); }
    void Abort() { Call<void>(r, kReaderSlotAbort); }
    bool HasCapability(int32_t c) { return Call<bool, int32_t>(r, kReaderSlotHasCapability, c); }
    void SetOption(const KwChar* n, const KwChar* v) {
        Call<void, const KwChar*, const KwChar*>(r, kReaderSlotSetOption, n, v);
    }
    std::string ReadAll() {
        std::string out;
        char buf[1000];
        for (int32_t got; (got = Read(buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(got));
        return out;
    }
};

KwCreateGenericReaderFn Generic() { return Export<KwCreateGenericReaderFn>("KwReader", "CreateGenericReaderDLL"); }
KwCreateFromMemoryReaderFn FromMemory() {
    return Export<KwCreateFromMemoryReaderFn>("KwReader", "CreateFromMemoryReaderDLL");
}

KwString XmlfnFor(const std::string& path) {
    return KwFromUtf8("<XMLFN version=\"1.0\"><Item Name=\"Filename\">" + path +
                      "</Item><Item Name=\"FileType\">dsf</Item></XMLFN>");
}

}  // namespace

TEST(HostReader, ReadSeekWriteTruncateThroughXmlfnReader) {
    TempDir dir;
    const std::string data = Pattern(5000);
    const std::string path = dir.Write("a & b.dsf", data);
    std::string escaped = path;
    escaped.replace(escaped.find('&'), 1, "&amp;");

    auto init = Export<KwReaderInitializeFn>("KwReader", "KwReaderInitialize");
    ASSERT_NE(init, nullptr);
    init(0);
    RawReader rd{Generic()(XmlfnFor(escaped).c_str())};
    ASSERT_NE(rd.r, nullptr);
    EXPECT_FALSE(rd.IsOpen());
    EXPECT_EQ(rd.Seek(0, 0), -1);
    ASSERT_TRUE(rd.Open());
    EXPECT_TRUE(rd.IsOpen());
    EXPECT_TRUE(rd.HasCapability(kKwCapabilityAbort));
    EXPECT_EQ(rd.Size(), 5000);

    char buf[16];
    EXPECT_EQ(rd.Read(buf, 10), 10);
    EXPECT_EQ(std::string(buf, 10), data.substr(0, 10));
    EXPECT_EQ(rd.Seek(-4, kKwSeekEnd), 4996);
    EXPECT_EQ(rd.Seek(4, kKwSeekEnd), 4996);  // end-relative counts back by the magnitude
    EXPECT_EQ(rd.Read(buf, 16), 4);
    EXPECT_EQ(rd.Read(buf, 16), 0);
    EXPECT_EQ(rd.Seek(-10, kKwSeekCurrent), 4990);
    EXPECT_EQ(rd.Seek(-1, kKwSeekBegin), -1);
    EXPECT_EQ(rd.Seek(0, 7), -1);
    EXPECT_EQ(rd.Position(), 4990);

    EXPECT_EQ(rd.Seek(100, kKwSeekBegin), 100);
    EXPECT_EQ(rd.Write("WXYZ", 4), 4);
    EXPECT_EQ(rd.Position(), 104);
    EXPECT_TRUE(rd.Truncate());
    EXPECT_EQ(rd.Size(), 104);
    EXPECT_EQ(rd.Seek(0, kKwSeekBegin), 0);
    EXPECT_EQ(rd.ReadAll(), data.substr(0, 100) + "WXYZ");

    rd.Seek(0, kKwSeekBegin);
    rd.Abort();
    EXPECT_EQ(rd.Read(buf, 10), 0);
    Destroy(rd.r);
    EXPECT_EQ(ReadFile(path), data.substr(0, 100) + "WXYZ");
    Export<KwReaderUninitializeFn>("KwReader", "KwReaderUninitialize")(0);
}

TEST(HostReader, ReadOnlyOptionPlainPathsAndMissingFiles) {
    TempDir dir;
    const std::string path = dir.Write("x.iso", "0123456789");

    // A plain path with a track suffix names the image file itself.
    RawReader rd{Generic()(KwFromUtf8(path + ";2").c_str())};
    ASSERT_NE(rd.r, nullptr);
    rd.SetOption(KW_T("READ_ONLY"), KW_T("1"));
    ASSERT_TRUE(rd.Open());
    EXPECT_EQ(rd.Write("ab", 2), -1);
    EXPECT_FALSE(rd.Truncate());
    EXPECT_EQ(rd.ReadAll(), "0123456789");
    Destroy(rd.r);

    RawReader missing{Generic()(KwFromUtf8(dir.Path("none.dsf")).c_str())};
    ASSERT_NE(missing.r, nullptr);
    EXPECT_FALSE(missing.Open());  // nothing is created
    EXPECT_EQ(missing.Read(nullptr, 4), 0);
    Destroy(missing.r);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("none.dsf")));
    EXPECT_EQ(Generic()(nullptr), nullptr);
    EXPECT_EQ(Generic()(KW_T("<XMLFN version=\"2.0\"><Item Name=\"Filename\">x</Item></XMLFN>")), nullptr);

    // A file that cannot be written is opened read-only for a generic reader.
    if (geteuid() != 0) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_read);
        RawReader ro{Generic()(KwFromUtf8(path).c_str())};
        ASSERT_TRUE(ro.Open());
        EXPECT_EQ(ro.Write("ab", 2), -1);
        Destroy(ro.r);
    }
}

TEST(HostReader, WritingReopensOnlyTheFileThatWasOpened) {
    TempDir dir;
    const std::string path = dir.Write("w.dsf", "0123456789");

    // Reads first, then a write at the position reached and a truncation.
    RawReader rd{Generic()(KwFromUtf8(path).c_str())};
    ASSERT_TRUE(rd.Open());
    char buf[4];
    EXPECT_EQ(rd.Read(buf, 4), 4);
    EXPECT_EQ(rd.Size(), 10);
    EXPECT_EQ(rd.Write("ab", 2), 2);
    EXPECT_EQ(rd.Position(), 6);
    EXPECT_TRUE(rd.Truncate());
    EXPECT_EQ(rd.Size(), 6);
    EXPECT_EQ(rd.Seek(0, kKwSeekBegin), 0);
    EXPECT_EQ(rd.ReadAll(), "0123ab");
    Destroy(rd.r);
    EXPECT_EQ(ReadFile(path), "0123ab");

    // The path names another file by the time of the first write: refused,
    // and neither file changes; reading goes on from the opened file.
    RawReader moved{Generic()(KwFromUtf8(path).c_str())};
    ASSERT_TRUE(moved.Open());
    std::filesystem::rename(path, dir.Path("old.dsf"));
    dir.Write("w.dsf", "other");
    EXPECT_EQ(moved.Write("x", 1), -1);
    EXPECT_FALSE(moved.Truncate());
    EXPECT_EQ(moved.ReadAll(), "0123ab");
    Destroy(moved.r);
    EXPECT_EQ(ReadFile(path), "other");
    EXPECT_EQ(ReadFile(dir.Path("old.dsf")), "0123ab");
}

TEST(HostReader, FromMemoryReaderTakesOverOnlyOnSuccess) {
    TempDir dir;
    const std::string data = Pattern(3 << 20);  // more than one copy chunk
    const std::string path = dir.Write("m.dff", data);
    EXPECT_EQ(FromMemory()(nullptr), nullptr);

    RawReader file{Generic()(KwFromUtf8(path).c_str())};
    ASSERT_TRUE(file.Open());
    file.Seek(77, kKwSeekBegin);
    RawReader mem{FromMemory()(static_cast<IKwReader*>(file.r))};
    ASSERT_NE(mem.r, nullptr);  // `file` is destroyed now
    EXPECT_TRUE(mem.IsOpen());
    EXPECT_EQ(mem.Size(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(mem.Position(), 0);
    EXPECT_EQ(mem.Write("x", 1), -1);
    EXPECT_EQ(mem.ReadAll(), data);
    EXPECT_EQ(mem.Seek(-3, kKwSeekEnd), static_cast<int64_t>(data.size()) - 3);
    Destroy(mem.r);

    // Failures leave the given reader to the caller, where it was.
    RawReader closed{Generic()(KwFromUtf8(path).c_str())};
    EXPECT_EQ(FromMemory()(static_cast<IKwReader*>(closed.r)), nullptr);
    Destroy(closed.r);
    RawReader aborted{Generic()(KwFromUtf8(path).c_str())};
    ASSERT_TRUE(aborted.Open());
    aborted.Seek(5, kKwSeekBegin);
    aborted.Abort();
    EXPECT_EQ(FromMemory()(static_cast<IKwReader*>(aborted.r)), nullptr);
    EXPECT_EQ(aborted.Position(), 5);
    Destroy(aborted.r);
}

TEST(HostObject, CreatesUnopenedFileReaders) {
    TempDir dir;
    const std::string path = dir.Write("h.dsf", "abc");
    KwHostObject host;
    IKwHost* asHost = &host;
    RawReader rd{Call<IKwReader*, const KwChar*, int32_t, int32_t>(asHost, 0, KwFromUtf8(path).c_str(), 0, -1)};
    ASSERT_NE(rd.r, nullptr);
    EXPECT_FALSE(rd.IsOpen());
    rd.SetOption(KW_T("READ_ONLY"), KW_T("1"));
    ASSERT_TRUE(rd.Open());
    EXPECT_EQ(rd.ReadAll(), "abc");
    Destroy(rd.r);
    EXPECT_EQ(host.CreateReader(nullptr, 0, -1), nullptr);
    EXPECT_EQ(host.CreateReader(KW_T(""), 0, 5), nullptr);
    EXPECT_EQ(host.LastOpenFlags(), 5);
}

TEST(HostImage, AttachAndRelease) {
    auto get = Export<KwGetImageAppFn>("KwImage", "GetKwImageAppDLL");
    ASSERT_NE(get, nullptr);
    IKwImageApp* app = get();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(get(), app);
    Call<void, intptr_t>(app, 0, intptr_t(0));
    Call<void, intptr_t>(app, 1, intptr_t(0));
    Call<void, intptr_t>(app, 1, intptr_t(0));  // an extra release is accepted
}
