#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "support/KwDllString.h"
#include "support/KwNumbers.h"
#include "tests/tags/ID3v2TestSupport.h"

using namespace id3test;

namespace {

struct Row {
    const char* name;
    const char* id;
    const char* description;  // "QB" stands for "Quillbox: " and the name
    uint32_t flags;           // including the constructor's 0x10000 and 0x10
    int pictureType;
};

const Row kRows[kID3BuiltInRows] = {
    {"Name", "TIT2", "", 0xd0000, -1}, {"Artist", "TPE1", "", 0xd0010, -1}, {"Album Artist", "TPE2", "", 0xd0000, -1},
    {"Band", "TXXX", "Kw/Band", 0xd0000, -1}, {"Album", "TALB", "", 0xd0000, -1},
    {"Track #", "TRCK", "", 0xd0001, -1}, {"Disc #", "TPOS", "", 0xd0001, -1}, {"Date", "TDRC", "", 0x90020, -1},
    {"Date", "TXXX", "Kw/Date", 0x50000, -1}, {"Year", "TYER", "", 0x50000, -1},
    {"Date (release)", "TDRL", "", 0x10020, -1}, {"Genre", "TCON", "", 0xd0012, -1},
    {"Rating", "POPM", "", 0xd0000, -1}, {"Rating", "TXXX", "RATING", 0x10000, -1},
    {"Composer", "TCOM", "", 0xd0010, -1}, {"Conductor", "TPE3", "", 0xd0010, -1},
    {"Copyright", "TCOP", "", 0xd0000, -1}, {"Encoding Settings", "TSSE", "", 0xd0000, -1},
    {"BPM", "TBPM", "", 0xd0000, -1}, {"Peak Level", "TXXX", "replaygain_track_peak", 0xd0008, -1},
    {"Replay Gain", "TXXX", "replaygain_track_gain", 0xd0004, -1},
    {"Episode URL", "TXXX", "Episode URL", 0xd0000, -1}, {"Feed URL", "TXXX", "Feed URL", 0xd0000, -1},
    {"Comment", "COMM", "", 0xd0000, -1}, {"Notes", "TXXX", "Notes", 0xd0000, -1}, {"Notes", "QBGN", "", 0x10000, -1},
    {"Lyrics", "USLT", "", 0x1d0000, -1}, {"Lyrics", "TXXX", "UNSYNCED LYRICS", 0x10000, -1},
    {"Image File", "APIC", "", 0xd0000, 3}, {"Image File", "APIC", "", 0x10000, 0},
    {"Image File", "APIC", "", 0x30000, -1}, {"Tempo", "COMM", "MusicMatch_Tempo", 0xd0000, -1},
    {"Mood", "TMOO", "", 0x90000, -1}, {"Mood", "TXXX", "Mood", 0x50000, -1},
    {"Mood", "COMM", "MusicMatch_Mood", 0x10000, -1}, {"Situation", "COMM", "MusicMatch_Situation", 0xd0000, -1},
    {"Bios", "COMM", "MusicMatch_Bio", 0xd0000, -1}, {"Preference", "COMM", "MusicMatch_Preference", 0xd0000, -1},
    {"Lyricist", "TEXT", "", 0xd0000, -1}, {"Original Lyricist", "TOLY", "", 0xd0000, -1},
    {"Original Artist", "TOPE", "", 0xd0000, -1}, {"Initial Key", "TKEY", "", 0xd0000, -1},
    {"Subtitle", "TIT3", "", 0xd0000, -1}, {"Grouping", "TIT1", "", 0xd0000, -1},
    {"Publisher", "TPUB", "", 0xd0000, -1}, {"Soloists", "TXXX", "Soloists", 0xd0010, -1},
    {"Instruments", "COMM", "MusicMatch_ClassicalInstrument", 0xd0000, -1},
    {"Featured Performers", "COMM", "MusicMatch_ClassicalFeaturedPerformers", 0xd0000, -1},
    {"Classical Genre", "COMM", "MusicMatch_ClassicalGenre", 0xd0000, -1},
    {"Track Artist", "COMM", "MusicMatch_TrackArtist", 0xd0000, -1}, {"Album Sort", "TSOA", "", 0xd0000, -1},
    {"Album Artist Sort", "TSO2", "", 0xd0000, -1}, {"Artist Sort", "TSOP", "", 0xd0000, -1},
    {"Composer Sort", "TSOC", "", 0xd0000, -1}, {"Title Sort", "TSOT", "", 0xd0000, -1},
    {"UITS Payload", "PRIV", "UITS", 0xd0040, -1}, {"Involved People", "IPLS", "", 0xd0000, -1},
    {"Original Release Year", "TORY", "", 0xd0000, -1}, {"Release Medium", "TMED", "", 0xd0000, -1},
    {"ISRC", "TSRC", "", 0xd0000, -1}, {"Commercial URL", "WCOM", "", 0xd0000, -1},
    {"Copyright URL", "WCOP", "", 0xd0000, -1}, {"File URL", "WOAF", "", 0xd0000, -1},
    {"Artist URL", "WOAR", "", 0xd0000, -1}, {"Source URL", "WOAS", "", 0xd0000, -1},
    {"Radio Station URL", "WORS", "", 0xd0000, -1}, {"Payment URL", "WPAY", "", 0xd0000, -1},
    {"Publisher URL", "WPUB", "", 0xd0000, -1}, {"iTunes Compilation", "TCMP", "", 0xd0000, -1},
    {"iTunes Gapless", "COMM", "iTunSMPB", 0xd0000, -1}, {"!@#$% iTunes Podcast Flag !@#$%", "PCST", "", 0xd0005, -1},
    {"Episode URL", "TGID", "", 0x10000, -1}, {"!@#$% iTunes Podcast Episode URL !@#$%", "TGID", "", 0xd0000, -1},
    {"Feed URL", "WFED", "", 0x10000, -1}, {"!@#$% iTunes Podcast Feed URL !@#$%", "WFED", "", 0xd0000, -1},
    {"Comment", "TDES", "", 0x10000, -1}, {"!@#$% iTunes Podcast Description !@#$%", "TDES", "", 0xd0000, -1},
    {"!@#$% iTunes Podcast Date !@#$%", "TDRL", "", 0xd0020, -1},
    {"Album Artist", "TXXX", "Album Artist", 0xd0000, -1}, {"Album Artist", "COMM", "QB", 0x10000, -1},
    {"Peak Level", "COMM", "QB", 0x10000, -1}, {"Replay Gain", "COMM", "QB", 0x10000, -1},
    {"Publisher", "COMM", "QB", 0x10000, -1}, {"Band", "TXXX", "Band", 0x10000, -1},
    {"Date", "TXXX", "Date", 0x10000, -1}, {"Lyrics", "TXXX", "Lyrics", 0x10000, -1},
};

// The data of a frame that the given row matches, holding the text "v".
Bytes FrameDataFor(const Row& row, const std::string& description) {
    const std::string id = row.id;
    if (id == "TXXX") return Cat({Latin1(description), {0}, Raw("v")});
    if (id == "COMM" || id == "USLT" || id == "QBGN") return Cat({{0}, Raw("eng"), Raw(description), {0}, Raw("v")});
    if (id == "APIC")
        return Cat({{0}, Raw("image/png"), {0}, {uint8_t(row.pictureType < 0 ? 7 : row.pictureType)}, Raw("d"), {0},
                    Raw("v")});
    if (id == "POPM") return Cat({Raw("a@b"), {0}, {255}});
    if (id == "PCST") return {0, 0, 0, 0};
    if (id == "PRIV") return Cat({Raw(description), {0}, Raw("v")});
    if (id[0] == 'W') return Raw("v");
    return Latin1("v");
}

TEST(ID3v2Table, HoldsTheBuiltInRowsAndEachRowFindsItsFrame) {
    CID3v2Tag tag(Tools());
    ASSERT_EQ(tag.RowCount(), kID3BuiltInRows);
    for (size_t i = 0; i < kID3BuiltInRows; ++i) {
        SCOPED_TRACE(i + 1);
        const Row& expected = kRows[i];
        const CID3v2Field& row = tag.Row(i);
        std::string description = expected.description;
        if (description == "QB") description = std::string("Quillbox: ") + expected.name;
        if (description == "UITS") description = KwToUtf8(kUitsOwner);
        EXPECT_EQ(KwToUtf8(row.name), expected.name);
        EXPECT_EQ(row.FrameId(), expected.id);
        EXPECT_EQ(KwToUtf8(row.description), description);
        EXPECT_EQ(row.flags, expected.flags);
        EXPECT_EQ(row.pictureType, expected.pictureType);

        // A tag holding only this row's frame answers the row's field from it.
        CID3v2Tag one(Tools());
        ASSERT_TRUE(one.Parse(Tag(4, {Frame(expected.id, FrameDataFor(expected, description), 4)})));
        ASSERT_EQ(one.FrameCount(), 1u);
        KwPropertyMap fields;
        EXPECT_TRUE(one.LookupField(row.name, fields));
        EXPECT_EQ(one.RowCount(), kID3BuiltInRows);  // no rows added for known names
    }
}

struct ReadCase {
    const char* what;
    std::vector<Bytes> frames;
    const char* field;
    const char* expected;
    int version = 3;
};

TEST(ID3v2Read, FieldConversionsAndPrecedence) {
    const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2};
    const std::vector<ReadCase> cases = {
        {"genre number", {Frame("TCON", Latin1("(13)"))}, "Genre", "Pop"},
        {"genre number out of range", {Frame("TCON", Latin1("(200)"))}, "Genre", "200"},
        {"genre minus one", {Frame("TCON", Latin1("-1"))}, "Genre", ""},
        {"genre word in parentheses", {Frame("TCON", Latin1("(RX)"))}, "Genre", "RX"},
        {"rating missing", {Frame("POPM", Raw("x@y"))}, "Rating", "0"},
        {"TDRC before Kw/Date",
         {Frame("TXXX", Cat({Latin1("Kw/Date"), {0}, Raw("1999")}), 4), Frame("TDRC", Latin1("2000-01-01"), 4)},
         "Date", "36526", 4},
        {"Date absent with only TYER", {Frame("TYER", Latin1("1987"))}, "Date", "<absent>"},
        {"TXXX Date converted", {Frame("TXXX", Cat({Latin1("Date"), {0}, Raw("2000-01-02")}))}, "Date", "36527"},
        {"not a date", {Frame("TDRC", Latin1("soon"), 4)}, "Date", "", 4},
        {"notes in lower case", {Frame("TXXX", Cat({Latin1("notes"), {0}, Raw("n")}))}, "Notes", "n"},
        {"picture type 4 through the third row",
         {Frame("APIC", Cat({{0}, Raw("image/png"), {0, 4}, Raw("d"), {0}, png}))}, "Image File",
         "iVBORw0KGgoBAg=="},
        {"front cover wins",
         {Frame("APIC", Cat({{0}, Raw("image/png"), {0, 0}, Raw("d"), {0}, Raw("zero")})),
          Frame("APIC", Cat({{0}, Raw("image/png"), {0, 3}, Raw("d"), {0}, Raw("front")}))},
         "Image File", "ZnJvbnQ="},
        {"JPEG without description", {Frame("APIC", Cat({{0}, Raw("image/jpeg"), {0, 3, 0xFF, 0xD8, 0xFF}}))},
         "Image File", "/9j/"},
        {"replay gain", {Frame("TXXX", Cat({Latin1("replaygain_track_gain"), {0}, Raw("-6.5 dB")}))},
         "Replay Gain", "-6.500000"},
        {"peak", {Frame("TXXX", Cat({Latin1("REPLAYGAIN_TRACK_PEAK"), {0}, Raw("0.988")}))}, "Peak Level",
         "0.988"},
        {"UTF-16 without BOM, odd length", {Frame("TIT2", {1, 'h', 0, 'i'})}, "Name", "h"},
        {"unknown encoding", {Frame("TIT2", Cat({{9}, Raw("x")}))}, "Name", ""},
        {"URL pieces", {Frame("WOAR", Cat({Raw("http://a"), {0, 0}, Raw("http://b")}))}, "Artist URL",
         "http://a;http://b"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        CID3v2Tag tag(Tools());
        ASSERT_TRUE(tag.Parse(Tag(c.version, c.frames)));
        std::string expected = c.expected;
        if (std::string(c.field) == "Replay Gain") expected = KwToUtf8(KwFormatDoubleFixed(-6.5, 6));
        EXPECT_EQ(Field(tag, c.field), expected);
    }
    CID3v2Tag tag(Tools());
    ASSERT_TRUE(tag.Parse(Tag(3, {Frame("TRCK", Latin1("3/12"))})));
    EXPECT_EQ(Field(tag, "Track #", "Value Original"), "3/12");
}

TEST(ID3v2Read, FrameSizesOf24ThatAreNotSynchsafe) {
    // Version 2.4 sizes: synchsafe 00 00 01 7F is 255; 00 00 00 FF has the top bit and is plain 255.
    for (const Bytes& size : {Bytes{0, 0, 1, 0x7F}, Bytes{0, 0, 0, 0xFF}}) {
        Bytes frame = Cat({Raw("TIT2"), size, {0, 0}, Latin1(std::string(254, 'x'))});
        CID3v2Tag tag(Tools());
        ASSERT_TRUE(tag.Parse(Tag(4, {frame, Frame("TPE1", Latin1("a"), 4)})));
        EXPECT_EQ(Field(tag, "Name").size(), 254u);
        EXPECT_EQ(Field(tag, "Artist"), "a");
    }
}

// A frame more than 20 times its size, or not zlib at all: the raw bytes stay.
TEST(ID3v2Read, CompressionBombStaysRaw) {
    CID3v2Tag tag(Tools());
    const std::string bomb = std::string(1, '\0') + std::string(100000, 'b');
    Bytes big(compressBound(bomb.size()));
    uLongf bigSize = big.size();
    ASSERT_EQ(compress(big.data(), &bigSize, reinterpret_cast<const Bytef*>(bomb.data()), bomb.size()), Z_OK);
    big.resize(bigSize);
    for (const Bytes& data : {big, Raw("not zlib")}) {
        ASSERT_TRUE(tag.Parse(Tag(4, {Frame("TIT2", data, 4, 0x800)})));
        EXPECT_LT(Field(tag, "Name").size(), 1000u);
    }
}

TEST(ID3v2Read, BadInputStaysBounded) {
    const Bytes good = Tag(3, {Frame("TIT2", Latin1("t")), Frame("TPE1", Latin1("a"))}, 0, 20);
    struct Bad {
        const char* what;
        Bytes bytes;
        bool valid;
        size_t frames;
    };
    Bytes lying = good;
    lying[9] = 0x7F;  // the header claims more than the block holds
    Bytes highBits = good;
    highBits[6] = 0xFF;  // synchsafe bytes with the top bit: read as seven bits each
    Bytes overrun = good;
    overrun[10 + 7] = 200;  // the first frame runs past the tag
    Bytes experimental = good;
    experimental[5] = 0x20;
    const std::vector<Bad> cases = {
        {"too short", Raw("ID3"), false, 0},       {"not a tag", Raw("TAG and more bytes"), false, 0},
        {"size lies", lying, false, 0},            {"experimental", experimental, false, 0},
        {"synchsafe high bits", highBits, false, 0}, {"frame overruns", overrun, true, 0},
        {"version 5", Cat({Raw("ID3"), {5, 0, 0, 0, 0, 0, 0}}), false, 0},
        {"unsynchronised, cut inside a frame",
         Tag(3, {Frame("TPE1", Latin1("a")), Cat({Raw("TIT2"), {0, 0, 0, 9, 0, 0}, {0, 0xFF, 0}})}, 0x80), true, 1},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        CID3v2Tag tag(Tools());
        EXPECT_EQ(tag.Parse(c.bytes), c.valid);
        EXPECT_EQ(tag.FrameCount(), c.frames);
        Bytes out;
        EXPECT_TRUE(tag.Render(out));
    }
    // 10 000 frames and a value of a megabyte: parse, read, render and parse
    // again in well under a second.
    std::vector<Bytes> many(10000, Frame("TXXX", Cat({Latin1("k"), {0}, Raw("v")})));
    many.push_back(Frame("TIT2", Latin1(std::string(1 << 20, 'm'))));
    const auto start = std::chrono::steady_clock::now();
    CID3v2Tag tag(Tools());
    ASSERT_TRUE(tag.Parse(Tag(3, many)));
    EXPECT_EQ(tag.FrameCount(), 10001u);
    EXPECT_EQ(Field(tag, "Name").size(), size_t{1} << 20);
    EXPECT_EQ(Field(tag, "k"), "v");
    EXPECT_TRUE(tag.StoreField(KW_T("k"), KW_T("w")));
    Bytes out;
    ASSERT_TRUE(tag.Render(out));
    CID3v2Tag again(Tools());
    ASSERT_TRUE(again.Parse(out));
    EXPECT_EQ(again.FrameCount(), 2u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// A field stored, the tag rendered and parsed again: what a reader then finds
// (the mutagen tests read the frames of the plain fields).
TEST(ID3v2Write, StoredFieldsBecomeFrames) {
    struct WriteCase {
        const char* what;
        Bytes start;  // the tag before; empty: a new tag
        const char* field;
        const char* value;
        const char* readField;
        const char* key;
        const char* expected;
    };
    const Bytes trck = Tag(3, {Frame("TRCK", Latin1("3/12"))});
    const std::vector<WriteCase> cases = {
        {"number keeps its total", trck, "Track #", "4", "Track #", "Value Original", "4/12"},
        {"empty removes", trck, "Track #", "", "Track #", "Value", "<absent>"},
        {"new year midnight dropped in 2.3", {}, "Date", "36526", "Date", "Value", "<absent>"},
        {"noon kept in 2.3", {}, "Date", "36526.5", "Date", "Value", "36526.5"},
        {"read-only row adds a TXXX row", {}, "Date (release)", "x", "Date (release)", "Value", "x"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.what);
        CID3v2Tag tag(Tools());
        if (!c.start.empty()) {
            ASSERT_TRUE(tag.Parse(c.start));
        }
        tag.StoreField(KwFromUtf8(c.field), KwFromUtf8(c.value));
        Bytes out;
        ASSERT_TRUE(tag.Render(out));
        CID3v2Tag back(Tools());
        ASSERT_TRUE(back.Parse(out));
        EXPECT_EQ(Field(back, c.readField, c.key), c.expected);
    }
    // In 2.4 the date goes to TDRC as it was given.
    CID3v2Tag v24(Tools());
    ASSERT_TRUE(v24.Parse(Tag(4, {})));
    v24.StoreField(KW_T("Date"), KW_T("36526"));
    Bytes out;
    ASSERT_TRUE(v24.Render(out) && v24.Parse(out));
    ASSERT_EQ(v24.FrameCount(), 1u);
    EXPECT_EQ(v24.Frame(0).Id(), "TDRC");
    EXPECT_EQ(v24.Frame(0).data, Cat({{0}, Raw("36526"), {0}}));
}

TEST(ID3v2Write, RowsGrowAndTagsGrowByWholePages) {
    // A new name adds a row (and its TXXX frame, which mutagen reads in the
    // file-information tests); an empty value for an absent field adds none.
    CID3v2Tag tag(Tools());
    EXPECT_TRUE(tag.StoreField(KW_T("Mood2"), KW_T("calm")));
    EXPECT_FALSE(tag.StoreField(KW_T("Year"), KW_T("")));
    EXPECT_EQ(tag.RowCount(), kID3BuiltInRows + 2);
    // An image path that cannot be read changes nothing; the cover stays.
    CID3v2Tag pictured(Tools());
    ASSERT_TRUE(pictured.Parse(Tag(3, {Frame("APIC", Cat({{0}, Raw("image/png"), {0, 3, 0}, Raw("img")}))})));
    EXPECT_FALSE(pictured.StoreField(KW_T("Image File"), KW_T("/nonexistent/cover.png")));
    EXPECT_EQ(Field(pictured, "Image File"), "aW1n");

#if !defined(_WIN32)
    // The picture goes to a file of a known name in the shared temporary
    // folder; a symbolic link put in its place is not written through.
    auto imageFile = [&pictured] {
        KwDllString out;
        bool found = false;
        pictured.GetField(KW_T("Image File"), &out, &found);
        return KwToUtf8(out.Text());
    };
    const std::string image = imageFile();
    ASSERT_FALSE(image.empty());
    const std::string victim = image + ".victim";
    { std::ofstream(victim) << "keep"; }
    std::remove(image.c_str());
    ASSERT_EQ(symlink(victim.c_str(), image.c_str()), 0);
    EXPECT_EQ(imageFile(), "");
    std::ifstream kept(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
    std::remove(image.c_str());
    std::remove(victim.c_str());
#endif

    // A new tag is padded to 4096 bytes; frames that grow go to the next 4096.
    CID3v2Tag parsed(Tools());
    ASSERT_TRUE(parsed.Parse(Tag(3, {Frame("TIT2", Latin1("long title"))}, 0, 100)));
    parsed.StoreField(KW_T("Comment"), KwString(300, KW_T('c')));
    Bytes out;
    ASSERT_TRUE(parsed.Render(out));
    EXPECT_EQ(out.size(), 4096u);
}

}  // namespace
