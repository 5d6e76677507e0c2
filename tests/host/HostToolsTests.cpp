// The tools library driven through GetKwToolsDLL and raw vtable slots.
#include <zlib.h>

#include <tuple>
#include <utility>

#include "host/tools/KwToolsExports.h"
#include "plugin/kwapi/IKwTools.h"
#include "support/KwDllString.h"
#include "tests/host/HostTestSupport.h"

using namespace hosttest;

namespace {

enum ToolsSlot {
    kAttach = 0,
    kDetach = 1,
    kRelease = 2,
    kGetTranslator = 3,
    kOpenSettings = 4,
    kGetMemoryCopy = 5,
    kGetTextServices = 6,
    kGetDateServices = 7,
    kGetCompression = 8
};

const KwChar* const kSection = KW_T("Plugins\\Input\\DSD");

void* Tools() {
    auto get = Export<KwGetToolsFn>("KwTools", "GetKwToolsDLL");
    return get ? get(kKwToolsVersion) : nullptr;
}

void* OpenSettings(const KwChar* section = kSection) {
    return Call<void*, const KwChar*, int32_t>(Tools(), kOpenSettings, section, 0);
}

int32_t GetInt(const KwChar* key, int32_t def = 0) {
    void* s = OpenSettings();
    if (!s) return -999;
    const int32_t v = Call<int32_t, const KwChar*, int32_t, int32_t, int32_t>(s, 1, key, def, 0, 0);
    Destroy(s);
    return v;
}

bool SetInt(const KwChar* key, int32_t value) {
    void* s = OpenSettings();
    if (!s) return false;
    const bool ok = Call<bool, const KwChar*, int32_t, int32_t, int32_t>(s, 2, key, value, 0, 0);
    Destroy(s);
    return ok;
}

// Points the settings store at a fresh configuration folder for one test.
class HostSettings : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        saved_ = old ? old : "";
        SetEnv("XDG_CONFIG_HOME", dir_.Path());
    }
    void TearDown() override { SetEnv("XDG_CONFIG_HOME", saved_); }
    std::string SettingsFile() const { return dir_.Path("dsdhost/settings.ini"); }

    TempDir dir_;
    std::string saved_;
};

double ParseDate(const char* text) {
    void* dates = Call<void*, bool>(Tools(), kGetDateServices, true);
    return Call<double, const KwChar*, int32_t>(dates, 0, KwFromUtf8(text).c_str(), 0);
}

int32_t Compare(const char* a, const char* b, uint32_t flags) {
    void* text = Call<void*, bool>(Tools(), kGetTextServices, true);
    return Call<int32_t, const KwChar*, const KwChar*, uint32_t, bool>(text, 0, KwFromUtf8(a).c_str(),
                                                                       KwFromUtf8(b).c_str(), flags, true);
}

}  // namespace

TEST(HostTools, InterfaceVersionAndAttachCounting) {
    auto get = Export<KwGetToolsFn>("KwTools", "GetKwToolsDLL");
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get(200047), nullptr);
    void* tools = get(kKwToolsVersion);
    ASSERT_NE(tools, nullptr);
    Call<void, intptr_t, KwModuleHandle>(tools, kAttach, intptr_t(0), nullptr);
    Call<void, KwModuleHandle>(tools, kDetach, nullptr);
    Call<void, intptr_t, KwModuleHandle>(tools, kRelease, intptr_t(0), nullptr);
    Call<void, intptr_t, KwModuleHandle>(tools, kRelease, intptr_t(0), nullptr);
}

TEST_F(HostSettings, DefaultsThenValuesPersistAtomically) {
    EXPECT_EQ(GetInt(KW_T("Low-pass mode")), 0);
    EXPECT_EQ(GetInt(KW_T("Low-pass mode"), 42), 42);
    EXPECT_TRUE(SetInt(KW_T("Low-pass mode"), 5));
    EXPECT_TRUE(SetInt(KW_T("Add 6dB"), 7));
    EXPECT_TRUE(SetInt(KW_T("add 6db"), -3));  // keys ignore case; the first spelling stays
    EXPECT_EQ(GetInt(KW_T("Low-pass mode")), 5);
    EXPECT_EQ(GetInt(KW_T("Add 6dB")), -3);
    EXPECT_EQ(ReadFile(SettingsFile()), "[Plugins\\Input\\DSD]\nLow-pass mode=5\nAdd 6dB=-3\n");
    // Only the settings file and its lock file are left: no temporary file behind.
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir_.Path("dsdhost"))) ++entries;
    EXPECT_EQ(entries, 2u);

    // Names the file format cannot hold are refused.
    EXPECT_FALSE(SetInt(KW_T("a=b"), 1));
    EXPECT_FALSE(SetInt(KW_T("line\nbreak"), 1));
    EXPECT_EQ(OpenSettings(KW_T("bad]section")), nullptr);
    EXPECT_EQ(OpenSettings(nullptr), nullptr);
}

// Writers in other processes: HostSettingsTests.cpp.
TEST_F(HostSettings, CommentsBlanksAndLineEndsAreRead) {
    std::filesystem::create_directories(dir_.Path("dsdhost"));
    dir_.Write("dsdhost/settings.ini", "; note\r\n\r\n[ Plugins\\Input\\DSD ]\r\n  Low-pass mode = +3 \r\n");
    EXPECT_EQ(GetInt(KW_T("Low-pass mode")), 3);
}

TEST_F(HostSettings, UnwritableLocationIsQuiet) {
    // A configuration folder below a plain file cannot be created by anyone.
    dir_.Write("file", "x");
    SetEnv("XDG_CONFIG_HOME", dir_.Path("file/sub"));
    EXPECT_FALSE(SetInt(KW_T("Low-pass mode"), 2));
    EXPECT_EQ(GetInt(KW_T("Low-pass mode"), 4), 4);
}

TEST(HostTools, TranslatorUsesCatalogWhenConfigured) {
    TempDir dir;
    const std::string catalog =
        dir.Write("de.txt", "\xEF\xBB\xBF# comment\nSafe=Sicher\r\nLow\\=pass=Tief\\npass\nMedium=Mittel \xC3\xA4\n");
    KwDllString text(KW_T("Safe"));
    SetEnv("KW_TRANSLATION_CATALOG", "");
    void* tr = Call<void*, bool>(Tools(), kGetTranslator, true);
    ASSERT_NE(tr, nullptr);
    EXPECT_FALSE((Call<bool, IKwDllString*>(tr, 0, &text)));
    EXPECT_EQ(text.Text(), KW_T("Safe"));

    SetEnv("KW_TRANSLATION_CATALOG", catalog);
    tr = Call<void*, bool>(Tools(), kGetTranslator, true);
    EXPECT_TRUE((Call<bool, IKwDllString*>(tr, 0, &text)));
    EXPECT_EQ(text.Text(), KW_T("Sicher"));
    // {source, translation or nullptr when the catalog has none}
    const std::pair<const KwChar*, const KwChar*> cases[] = {
        {KW_T("Low=pass"), KW_T("Tief\npass")}, {KW_T("Medium"), KW_T("Mittel \u00e4")}, {KW_T("Off"), nullptr}};
    for (const auto& [source, translated] : cases) {
        KwDllString s(source);
        EXPECT_EQ((Call<bool, IKwDllString*>(tr, 0, &s)), translated != nullptr) << KwToUtf8(source);
        EXPECT_EQ(s.Text(), KwString(translated ? translated : source));
    }
    EXPECT_FALSE((Call<bool, IKwDllString*>(tr, 0, nullptr)));
    SetEnv("KW_TRANSLATION_CATALOG", "");
}

TEST(HostTools, TextCompareWithCaseAndNumbers) {
    // {a, b, flags, sign of the result}; 512 compares digit runs as numbers.
    const std::tuple<const char*, const char*, uint32_t, int> cases[] = {
        {"ABC", "abc", 513, 0},         {"abc", "ABC", 0, 1},           {"Track 2", "track 10", 513, -1},
        {"Track 2", "track 10", 1, 1},  {"a100b", "a99z", 513, 1},      {"x1y", "x1z", 513, -1},
        {"TIT", "TIT2", 513, -1},       {"99999999999999999999999", "99999999999999999999999", 513, 0},
        {"99999999999999999999998", "99999999999999999999999", 513, -1}};
    for (const auto& [a, b, flags, sign] : cases) {
        const int32_t r = Compare(a, b, flags);
        EXPECT_EQ((r > 0) - (r < 0), sign) << a << " / " << b << " " << flags;
    }
    EXPECT_NE(Compare("x01", "x1", 513), 0);
    EXPECT_EQ(Compare("x01", "x1", 513), -Compare("x1", "x01", 513));
}

TEST(HostTools, DatesAsOleAutomationDays) {
    const std::pair<const char*, double> good[] = {
        {"2001-02-03", 36925.0},        {"2001/02/03", 36925.0},          {" 2001 ", 36892.0},
        {"2001-02", 36923.0},           {"2001-02-03T12:00", 36925.5},    {"2001-02-03T06:00:00", 36925.25},
        {"2001-02-03T18", 36925.75},    {"1900-01-01", 2.0},              {"1899-12-29T06:00", -1.25},
        {"2000-02-29", 36585.0}};
    for (const auto& [text, days] : good) EXPECT_EQ(ParseDate(text), days) << text;
    for (const char* bad : {"", "abc", "01", "2001-02-30", "2001-13", "1999-02-29", "2001-02-03T24:00",
                            "2001-02-03T12:60", "2001/02/03T12:00", "2001-02/03", "2001-02-03x", "0099"})
        EXPECT_EQ(ParseDate(bad), 0.0) << bad;
    void* dates = Call<void*, bool>(Tools(), kGetDateServices, true);
    EXPECT_EQ((Call<double, const KwChar*, int32_t>(dates, 0, nullptr, 0)), 0.0);
}

TEST(HostTools, ZlibInflateRoundTrip) {
    const std::string data = Pattern(10000) + std::string(20000, 'a');
    uLongf packedSize = compressBound(data.size());
    std::vector<Bytef> packed(packedSize);
    ASSERT_EQ(compress(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(data.data()), data.size()), Z_OK);

    void* compression = Call<void*>(Tools(), kGetCompression);
    ASSERT_NE(compression, nullptr);
    void* inflater = Call<void*>(compression, 1);
    ASSERT_NE(inflater, nullptr);
    auto inflate = [&](const void* src, uint32_t srcLen, void* dst, uint32_t* dstLen) {
        return Call<bool, const void*, uint32_t, void*, uint32_t*>(inflater, 1, src, srcLen, dst, dstLen);
    };
    std::string out(data.size() + 10, '\0');
    uint32_t outLen = static_cast<uint32_t>(out.size());
    EXPECT_TRUE(inflate(packed.data(), static_cast<uint32_t>(packedSize), out.data(), &outLen));
    ASSERT_EQ(outLen, data.size());
    EXPECT_EQ(out.substr(0, outLen), data);

    outLen = static_cast<uint32_t>(data.size() - 1);  // too small
    EXPECT_FALSE(inflate(packed.data(), static_cast<uint32_t>(packedSize), out.data(), &outLen));
    outLen = static_cast<uint32_t>(out.size());  // cut stream
    EXPECT_FALSE(inflate(packed.data(), static_cast<uint32_t>(packedSize / 2), out.data(), &outLen));
    packed[packedSize / 2] ^= 0x55;  // damaged stream
    outLen = static_cast<uint32_t>(out.size());
    EXPECT_FALSE(inflate(packed.data(), static_cast<uint32_t>(packedSize), out.data(), &outLen));
    EXPECT_FALSE(inflate(packed.data(), 4, out.data(), nullptr));
    Destroy(inflater);
    Destroy(compression);
}

TEST(HostTools, MemoryCopiesThatTheHostRegistered) {
    TempDir dir;
    const std::string data = Pattern(1234);
    const std::string path = dir.Write("copy.dsf", data);
    auto reg = Export<KwToolsRegisterMemoryCopyFn>("KwTools", "KwToolsRegisterMemoryCopy");
    auto clear = Export<KwToolsClearMemoryCopiesFn>("KwTools", "KwToolsClearMemoryCopies");
    ASSERT_TRUE(reg && clear);
    const KwString name = KwFromUtf8(path);
    auto get = [&](const KwString& n) { return Call<void*, const KwChar*>(Tools(), kGetMemoryCopy, n.c_str()); };

    EXPECT_EQ(get(name), nullptr);
    EXPECT_FALSE(reg(KwFromUtf8(dir.Path("none")).c_str()));
    ASSERT_TRUE(reg(name.c_str()));
    void* copy = get(name);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(get(name), copy);
    EXPECT_EQ(get(KwFromUtf8(dir.Path("other.dsf"))), nullptr);
    EXPECT_EQ((Call<int64_t, int64_t, int32_t>(copy, kReaderSlotSeek, 0, 0)), 0);
    EXPECT_EQ(Call<int64_t>(copy, kReaderSlotGetSize), 1234);
    std::string buf(2000, '\0');
    EXPECT_EQ((Call<int32_t, void*, int32_t>(copy, kReaderSlotRead, buf.data(), 2000)), 1234);
    EXPECT_EQ(buf.substr(0, 1234), data);
    clear();
    EXPECT_EQ(get(name), nullptr);
}
