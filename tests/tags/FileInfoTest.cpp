// The file-information object on real DSF and DSDIFF files, with mutagen as
// the independent ID3v2 reader and writer and ffmpeg as the DSF reader.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <zlib.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "plugin/DSDFileInfo.h"
#include "support/KwBase64.h"
#include "support/KwDllString.h"
#include "support/KwNumbers.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/tags/ID3v2TestSupport.h"
#include "tools/lib/ByteSink.h"

using namespace id3test;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const std::string kOracle = std::string(DSD_SOURCE_DIR) + "/tests/tags/id3_oracle.py";

bool HaveMutagen() { return e2e::RunCommand("/usr/bin/python3 -c 'import mutagen' 2>/dev/null") == 0; }

json Dump(const fs::path& path) {
    const std::string text = e2e::Capture("/usr/bin/python3 " + kOracle + " dump " + e2e::Quote(path));
    return text.empty() ? json() : json::parse(text);
}

// The frames of a mutagen dump with `id` (and description `desc` when given).
std::vector<json> Frames(const json& dump, const std::string& id, const char* desc = nullptr) {
    std::vector<json> out;
    for (const json& f : dump["frames"])
        if (f["id"] == id && (!desc || f.value("desc", "") == desc)) out.push_back(f);
    return out;
}

std::string Joined(const json& frame) {
    if (!frame.contains("text")) return "<no text>";
    std::string s;
    for (const auto& t : frame["text"]) s += (s.empty() ? "" : ";") + t.get<std::string>();
    return s;
}

// CRC of the audio bytes of a DSF file (the "data" chunk after its 12-byte header).
uint32_t AudioCrc(const fs::path& path) {
    const Bytes b = e2e::ReadBytes(path);
    if (b.size() < 92 || std::memcmp(b.data() + 80, "data", 4) != 0) return 0;
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = (size << 8) | b[84 + i];
    if (size < 12 || 80 + size > b.size()) return 0;
    return static_cast<uint32_t>(crc32(0, b.data() + 92, static_cast<uInt>(size - 12)));
}

class FileInfo {
public:
    bool Open(const fs::path& path) {
        KwXMLFilename name(KwFromUtf8(path.string()).c_str());
        std::string ext = path.extension().string().substr(1);
        name.Items().SetString(KW_T("FileType"), KwFromUtf8(ext));
        return info_.Open(name.ToText().c_str());
    }
    std::string Get(const std::string& field) {
        KwDllString out;
        return info_.GetProperty(KwFromUtf8(field).c_str(), &out) ? KwToUtf8(out.Text()) : "<absent>";
    }
    bool Set(const std::string& field, const std::string& value) {
        return info_.SetProperty(KwFromUtf8(field).c_str(), KwFromUtf8(value).c_str());
    }
    std::string Summary() {
        KwDllString out;
        info_.GetTagSummary(&out);
        return KwToUtf8(out.Text());
    }
    CDSDFileInfo& Object() { return info_; }

private:
    CDSDFileInfo info_{nullptr};
};

class FileInfoTest : public ::testing::Test {
protected:
    fs::path NewDsf(const std::string& name, const Bytes& tag = {}) {
        dsdtools::DsfOptions options;
        options.tag = tag;
        const fs::path path = work_ / name;
        EXPECT_TRUE(dsdtools::WriteDsf(path.string(), e2e::Tones(2, 2822400, 28224 * 2), options));
        return path;
    }
    fs::path CopyOf(const char* testFile) {
        const fs::path path = work_ / testFile;
        fs::copy_file(fs::path(DSD_TESTDATA_DIR) / testFile, path, fs::copy_options::overwrite_existing);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        return path;
    }
    void MutagenWrite(const fs::path& path, const json& request) {
        ASSERT_EQ(e2e::RunCommand("/usr/bin/python3 " + kOracle + " write " + e2e::Quote(path) + " '" +
                                  request.dump() + "'"),
                  0);
    }
    fs::path Png() {
        const fs::path path = work_ / "cover.png";
        if (!fs::exists(path)) e2e::RunCommand("/usr/bin/python3 " + kOracle + " png " + e2e::Quote(path));
        return path;
    }

    e2e::Workspace work_;
};

TEST_F(FileInfoTest, PropertiesSummaryAndTagSupportByFileKind) {
    const fs::path dsf = NewDsf("plain.dsf");
    FileInfo info;
    EXPECT_EQ(info.Get("Bitrate"), "<absent>");  // nothing open yet
    EXPECT_EQ(info.Object().RemoveTag(1), 0);
    EXPECT_EQ(info.Object().RemoveTag(0), -1);
    ASSERT_TRUE(info.Open(dsf));
    const std::pair<const char*, const char*> properties[] = {
        {"Bitrate", "5644"}, {"Channels", "2"}, {"Sample Rate", "2822400"}, {"Bit Depth", "1"}, {"Compression", "DSD"},
        // 16384 data bytes (two blocks of 4096 per channel) of 2 channels at 2822400 Hz.
        {"Duration", "0.0232199546485261"}, {"UITS Media Hash Byte Range", "92-16476"}, {"support TAG writing", "1"},
        {"bitrate", "<absent>"}};  // not a fixed name: asked of the tag
    for (const auto& [name, value] : properties) EXPECT_EQ(info.Get(name), value) << name;
    EXPECT_EQ(info.Summary(), "ID3v2 Tag: (0 bytes)");

    // Audio data beyond 2 GiB (a sparse file): the byte range is not cut to 32 bits.
    Bytes big = e2e::ReadBytes(dsf);
    const uint64_t dataBytes = uint64_t{0x48000} * 4096 * 2;  // 2.25 GiB, whole blocks
    for (int i = 0; i < 8; ++i) {
        big[12 + i] = static_cast<uint8_t>((92 + dataBytes) >> (8 * i));     // file size
        big[64 + i] = static_cast<uint8_t>((dataBytes * 4) >> (8 * i));      // samples per channel
        big[84 + i] = static_cast<uint8_t>((12 + dataBytes) >> (8 * i));     // data chunk size
    }
    big.resize(92);
    const fs::path huge = work_ / "huge.dsf";
    ASSERT_TRUE(dsdtools::WriteFileBytes(huge.string(), big));
    fs::resize_file(huge, 92 + dataBytes);
    FileInfo large;
    ASSERT_TRUE(large.Open(huge));
    EXPECT_EQ(large.Get("UITS Media Hash Byte Range"), "92-" + std::to_string(92 + dataBytes));

    for (const char* other : {"empty10ms.dff", "5644800-2ch-s01-silence.dff"}) {
        FileInfo dff;
        ASSERT_TRUE(dff.Open(CopyOf(other)));
        EXPECT_EQ(dff.Summary(), "ID3v2 Tag: none");
        EXPECT_EQ(dff.Get("Support Tag Writing"), "0");
        EXPECT_FALSE(dff.Set("Name", "x"));
        EXPECT_EQ(dff.Object().RemoveTag(0), -1);
    }
}

TEST_F(FileInfoTest, RealFilesReadAndWrite) {
    const fs::path with = CopyOf("with-id3.dsf");
    const fs::path without = CopyOf("without-id3.dsf");
    const uint32_t crcWith = AudioCrc(with), crcWithout = AudioCrc(without);
    FileInfo a;
    ASSERT_TRUE(a.Open(with));
    EXPECT_EQ(a.Get("Name"), "DSF title");
    EXPECT_TRUE(a.Summary().starts_with("ID3v2."));
    EXPECT_NE(a.Summary().find("\r\n  TIT2 (Name): DSF title"), std::string::npos);
    EXPECT_TRUE(a.Set("Artist", "Somebody"));
    EXPECT_TRUE(a.Object().Close());
    FileInfo b;
    ASSERT_TRUE(b.Open(without));
    EXPECT_TRUE(b.Set("Name", "Fresh"));
    EXPECT_TRUE(b.Object().Close());
    EXPECT_EQ(AudioCrc(with), crcWith);
    EXPECT_EQ(AudioCrc(without), crcWithout);
    FileInfo again;
    ASSERT_TRUE(again.Open(with));
    EXPECT_EQ(again.Get("Name"), "DSF title");
    EXPECT_EQ(again.Get("Artist"), "Somebody");
    ASSERT_TRUE(again.Open(without));
    EXPECT_EQ(again.Get("Name"), "Fresh");
    EXPECT_EQ(again.Object().RemoveTag(0), 0);
    ASSERT_TRUE(again.Open(without));
    EXPECT_EQ(again.Get("Name"), "<absent>");
    EXPECT_EQ(e2e::ReadBytes(without), e2e::ReadBytes(fs::path(DSD_TESTDATA_DIR) / "without-id3.dsf"));
}

TEST_F(FileInfoTest, MutagenTagsReadByThePlugin) {
    if (!HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed";
    std::string png64 = KwToUtf8(KwBase64Encode(e2e::ReadBytes(Png()).data(), fs::file_size(Png())));
    std::erase(png64, '\n');
    const json frames = json::parse(R"([
        {"id": "TIT2", "enc": 0, "text": ["Latin \u00fc"]},
        {"id": "TPE1", "enc": 1, "text": ["A", "B\u00e9"]},
        {"id": "TALB", "enc": 2, "text": ["\u00c5lbum"]},
        {"id": "TCOM", "enc": 3, "text": ["Komponist \u2211"]},
        {"id": "TRCK", "enc": 0, "text": ["3/12"]},
        {"id": "TXXX", "enc": 1, "desc": "Soloists", "text": ["S1", "S2"]},
        {"id": "COMM", "enc": 3, "desc": "", "text": ["a comment"]},
        {"id": "USLT", "enc": 1, "desc": "x", "text": ["line one\nline two"]},
        {"id": "POPM", "email": "someone@example.org", "rating": 196},
        {"id": "PRIV", "owner": "someone@example.org", "data": "<uits>payload</uits>"},
        {"id": "WOAR", "url": "http://example.org/artist"}])");
    for (int version : {3, 4}) {
        for (int padding : {0, 3000}) {
            SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(padding));
            const fs::path path = NewDsf("m" + std::to_string(version) + std::to_string(padding) + ".dsf");
            json all = frames;
            all.push_back({{"id", "APIC"}, {"enc", 0}, {"mime", "image/png"}, {"type", 3}, {"desc", "front"},
                           {"data", png64}});
            MutagenWrite(path, {{"version", version}, {"padding", padding}, {"frames", all}});
            const json dump = Dump(path);
            ASSERT_EQ(dump["version"][1], version);
            FileInfo info;
            ASSERT_TRUE(info.Open(path));
            EXPECT_EQ(info.Summary().substr(0, 7), "ID3v2." + std::to_string(version));
            const std::pair<const char*, const char*> textFields[] = {
                {"Name", "TIT2"}, {"Artist", "TPE1"}, {"Album", "TALB"}, {"Composer", "TCOM"}, {"Comment", "COMM"},
                {"Lyrics", "USLT"}};
            for (const auto& [field, id] : textFields) EXPECT_EQ(info.Get(field), Joined(Frames(dump, id)[0])) << id;
            EXPECT_EQ(info.Get("Soloists"), Joined(Frames(dump, "TXXX", "Soloists")[0]));
            EXPECT_EQ(info.Get("Track #"), "3");
            EXPECT_EQ(Frames(dump, "POPM")[0]["rating"], 196);
            EXPECT_EQ(info.Get("Rating"), "4");
            EXPECT_EQ(info.Get("UITS Payload"), "<uits>payload</uits>");
            EXPECT_EQ(info.Get("Artist URL"), Frames(dump, "WOAR")[0]["url"]);
            const std::string image = info.Get("Image File");
            ASSERT_TRUE(image.ends_with(".png")) << image;
            EXPECT_EQ(e2e::ReadBytes(image), e2e::ReadBytes(Png()));
            fs::remove(image);
        }
    }
}

TEST_F(FileInfoTest, CraftedUnsynchronisedAndCompressedTagsAgreeWithMutagen) {
    if (!HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed";
    std::string words;
    for (int i = 0; i < 200; ++i) words.push_back(static_cast<char>('a' + (i * 31 % 26)));
    const std::string text = std::string(1, '\0') + words;
    Bytes packed(compressBound(text.size()));
    uLongf packedSize = packed.size();
    compress(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(text.data()), text.size());
    packed.resize(packedSize);
    const auto n = static_cast<uint8_t>(text.size() & 0x7F), hi = static_cast<uint8_t>(text.size() >> 7);
    const Bytes unsyncData = {0, 'a', 0xFF, 0x00, 0xE0, 'b'};  // "a", 0xFF 0xE0, "b" once de-unsynchronised
    const std::vector<std::pair<const char*, Bytes>> tags = {
        {"2.3 tag-level unsynchronisation",
         Tag(3, {Cat({Raw("TIT2"), {0, 0, 0, 5, 0, 0}, unsyncData}), Frame("TPE1", Latin1("x"))}, 0x80, 16)},
        {"2.4 frame unsynchronisation", Tag(4, {Frame("TIT2", unsyncData, 4, 0x200), Frame("TPE1", Latin1("x"), 4)})},
        {"2.4 compressed", Tag(4, {Frame("TIT2", Cat({{0, 0, hi, n}, packed}), 4, 0x900)}, 0, 32)},
        {"2.3 compressed", Tag(3, {Frame("TIT2", Cat({{0, 0, 0, uint8_t(text.size())}, packed}), 3, 0x8000)})},
    };
    for (const auto& [what, tag] : tags) {
        SCOPED_TRACE(what);
        const fs::path path = NewDsf("crafted.dsf", tag);
        const json dump = Dump(path);
        ASSERT_FALSE(dump.is_null());
        FileInfo info;
        ASSERT_TRUE(info.Open(path));
        ASSERT_EQ(Frames(dump, "TIT2").size(), 1u);
        EXPECT_EQ(info.Get("Name"), Joined(Frames(dump, "TIT2")[0]));
        EXPECT_EQ(info.Get("Artist"), Frames(dump, "TPE1").empty() ? "<absent>" : "x");
    }
}

// Every field the table writes, set through the plug-in and read back by mutagen.
TEST_F(FileInfoTest, PluginWritesEveryFieldMutagenReadsIt) {
    if (!HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed";
    for (int version : {3, 4}) {
        SCOPED_TRACE(version);
        const fs::path path = NewDsf("w.dsf");
        if (version == 4) MutagenWrite(path, {{"version", 4}, {"frames", json::array()}});
        const uint32_t crc = AudioCrc(path);
        CID3v2Tag table;
        const uint32_t mask = version == 4 ? kFieldWrite24 : kFieldWrite23;
        FileInfo info;
        ASSERT_TRUE(info.Open(path));
        std::vector<const CID3v2Field*> plain;
        for (size_t i = 0; i < kID3BuiltInRows; ++i) {
            const CID3v2Field& row = table.Row(i);
            const std::string_view id = row.FrameId();
            const bool special = row.flags & (kFieldNumberTotal | kFieldReplayGain | kFieldReplayPeak | kFieldDate |
                                              kFieldUitsPayload | kFieldList);
            if (!(row.flags & mask) || special || row.name.starts_with(KW_T("!@#$%")) || id == "APIC" ||
                id == "POPM" || id == "IPLS" || row.name == KW_T("Feed URL"))
                continue;
            plain.push_back(&row);
            EXPECT_TRUE(info.Set(KwToUtf8(row.name), "value \xC3\xA9 " + KwToUtf8(row.name)));
        }
        EXPECT_TRUE(info.Set("Artist", "A;B"));
        EXPECT_TRUE(info.Set("Track #", "7"));
        EXPECT_TRUE(info.Set("Replay Gain", "-3.5"));
        EXPECT_TRUE(info.Set("Peak Level", "0.25"));
        EXPECT_TRUE(info.Set("Rating", "5"));
        EXPECT_TRUE(info.Set("Mood2", "calm"));
        EXPECT_TRUE(info.Set("Image File", Png().string()));
        EXPECT_TRUE(info.Object().Close());
        EXPECT_EQ(AudioCrc(path), crc);
        EXPECT_EQ(e2e::RunCommand("ffprobe -v error " + e2e::Quote(path) + " >/dev/null 2>&1"), 0);

        const json dump = Dump(path);
        ASSERT_FALSE(dump.is_null());
        EXPECT_EQ(dump["version"][1], version);
        for (const CID3v2Field* row : plain) {
            const std::string id(row->FrameId());
            const std::string desc = KwToUtf8(row->description);
            const std::string expected = "value \xC3\xA9 " + KwToUtf8(row->name);
            const auto found = Frames(dump, id, id == "TXXX" || id == "COMM" ? desc.c_str() : nullptr);
            ASSERT_EQ(found.size(), 1u) << id << " " << desc;
            EXPECT_EQ(id[0] == 'W' ? found[0]["url"].get<std::string>() : Joined(found[0]), expected) << id;
        }
        EXPECT_EQ(Joined(Frames(dump, "TPE1")[0]), "A;B");
        EXPECT_EQ(Joined(Frames(dump, "TRCK")[0]), "7");
        EXPECT_EQ(Joined(Frames(dump, "TXXX", "replaygain_track_gain")[0]), "-3.50 dB");
        EXPECT_EQ(Joined(Frames(dump, "TXXX", "replaygain_track_peak")[0]), "0.250000");
        EXPECT_EQ(Joined(Frames(dump, "TXXX", "Mood2")[0]), "calm");
        EXPECT_EQ(Frames(dump, "POPM")[0]["rating"], 255);
        EXPECT_EQ(Frames(dump, "APIC")[0]["mime"], "image/png");
        EXPECT_EQ(Frames(dump, "APIC")[0]["type"], 3);
    }
}

TEST_F(FileInfoTest, FailedWriteLeavesTheFileAsItWas) {
    const fs::path path = NewDsf("limited.dsf", Tag(3, {Frame("TIT2", Latin1("old"))}));
    const Bytes before = e2e::ReadBytes(path);
    FileInfo info;
    ASSERT_TRUE(info.Open(path));
    EXPECT_TRUE(info.Set("Comment", std::string(100000, 'c')));
    // The file may not grow: the new tag cannot be written completely.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = before.size();
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool closed = info.Object().Close();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(closed);
    EXPECT_EQ(e2e::ReadBytes(path), before);
}

// Threads reading pictures at once each get their own picture file, holding
// their own picture; dsdhost lists many files on several threads exactly as
// on one, in the order given, with the unreadable one's reason in its place.
TEST_F(FileInfoTest, PicturesAndListingsOnSeveralThreads) {
    constexpr int kFiles = 8;
    std::vector<fs::path> paths;
    std::vector<Bytes> pictures;
    for (int i = 0; i < kFiles; ++i) {
        pictures.push_back(Cat({Raw("\x89PNG picture "), Bytes(100 + i * 37, static_cast<uint8_t>(i))}));
        const Bytes apic = Cat({Latin1("image/png"), {0, 3, 0}, pictures.back()});  // type 3, no description
        paths.push_back(NewDsf("t" + std::to_string(i) + ".dsf",
                               Tag(3, {Frame("TIT2", Latin1("Title " + std::to_string(i))), Frame("APIC", apic)})));
    }
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round) {
                const int i = (t + round) % kFiles;
                FileInfo info;
                if (!info.Open(paths[i])) {
                    ++wrong;
                    continue;
                }
                const std::string image = info.Get("Image File");
                if (e2e::ReadBytes(image) != pictures[i]) ++wrong;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);

    std::string files;
    for (int i = 0; i < kFiles; ++i) {
        files += " " + e2e::Quote(paths[i]);
        if (i == 3) files += " " + e2e::Quote(fs::path(DSD_TESTDATA_DIR) / "empty10ms.dff") + ".missing";
    }
    // The picture's path names the thread that read it.
    auto run = [&](int jobs) {
        return e2e::Capture("( " + e2e::Bin("dsdhost") + " tags -j " + std::to_string(jobs) + files +
                            " 2>&1; echo exit $? ) | sed 's/^Image File: .*/Image File/'");
    };
    const std::string one = run(1);
    EXPECT_EQ(run(4), one);
    EXPECT_NE(one.find("Name: Title 3\nImage File\ndsdhost: cannot open "), std::string::npos) << one;
    EXPECT_NE(one.find("-- " + paths[7].string() + "\n"), std::string::npos) << one;
    EXPECT_TRUE(one.ends_with("exit 1\n")) << one;
}

// dsdhost's tag command: edits land in the file, failures exit non-zero and change nothing.
TEST_F(FileInfoTest, DsdhostTagsEditsAndFailures) {
    const fs::path path = NewDsf("host.dsf");
    const std::string host = e2e::Bin("dsdhost") + " tags ";
    ASSERT_EQ(e2e::RunCommand(host + e2e::Quote(path) + " --set 'Name=From host' --set 'Artist=A;B' >/dev/null"), 0);
    const std::string listing = e2e::Capture(host + e2e::Quote(path));
    EXPECT_NE(listing.find("Name: From host\nArtist: A;B\n"), std::string::npos) << listing;
    const Bytes before = e2e::ReadBytes(path);
    const std::pair<std::string, std::string> failures[] = {
        {e2e::Quote(path) + " --image 'Image File=/nonexistent.png'", "/nonexistent.png"},
        {e2e::Quote(path) + " --set NoEquals", "NoEquals"},
        {e2e::Quote(fs::path(DSD_TESTDATA_DIR) / "empty10ms.dff") + " --set Name=x", "empty10ms.dff"},
    };
    for (const auto& [arguments, reason] : failures) {
        const std::string message = e2e::Capture("( " + host + arguments + " 2>&1 >/dev/null; true )");
        EXPECT_NE(message.find(reason), std::string::npos) << arguments << ": " << message;
        EXPECT_NE(e2e::RunCommand(host + arguments + " >/dev/null 2>&1"), 0) << arguments;
    }
    EXPECT_EQ(e2e::ReadBytes(path), before);
}

}  // namespace
