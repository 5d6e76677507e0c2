// Summary lines of frames, fields read back after stores, and the picture file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "support/KwBase64.h"
#include "tags/ID3v2Files.h"
#include "tests/tags/ID3v2TestSupport.h"

using namespace id3test;

namespace {

Bytes Picture(uint8_t type, size_t imageBytes) {
    return Cat({{0}, Raw("image/png"), {0, type}, Raw("d"), {0}, Bytes(imageBytes, 0xAB)});
}

// The Base64 text of `n` picture bytes with its line feed shown as \n.
std::string ShownBase64(size_t n) {
    std::string text = KwToUtf8(KwBase64Encode(Bytes(n, 0xAB).data(), n));
    if (const size_t lf = text.find('\n'); lf != std::string::npos) text.replace(lf, 1, "\\n");
    return text;
}

std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ID3v2Summary, FrameDisplayText) {
    const struct {
        const char* what;
        Bytes frame;
        std::string line;
    } cases[] = {
        {"name from the table", Frame("TIT2", Latin1("t")), "TIT2 (Name): t"},
        {"description, prefix dropped", Frame("TXXX", Cat({Latin1("Quillbox: k"), {0}, Raw("v")})), "TXXX (k): v"},
        {"long description cut", Frame("TXXX", Cat({Latin1("abcdefghijklmnopqrstu"), {0}, Raw("v")})),
         "TXXX (abcdefghijklmnopqr..): v"},
        {"line breaks", Frame("TIT2", Latin1("a\r\nb\nc")), "TIT2 (Name): a\\nb\\nc"},
        // 93 bytes make 124 Base64 characters and a line feed; 94 make 129.
        {"small picture shown", Frame("APIC", Picture(3, 93)), "APIC (d) (Cover): " + ShownBase64(93)},
        {"picture too large", Frame("APIC", Picture(4, 94)), "APIC (d) (4): <too large to display>"},
        {"no fields", Frame("WXXX", Latin1("u")), "WXXX: <unknown data type>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CID3v2Tag tag(Tools());
        ASSERT_TRUE(tag.Parse(Tag(3, {c.frame})));
        EXPECT_EQ(KwToUtf8(tag.FrameDisplayText(0)), c.line);
    }
    CID3v2Tag empty(Tools());
    EXPECT_EQ(KwToUtf8(empty.FrameDisplayText(0)), "<invalid frame>");
}

TEST(ID3v2Read, FieldsFollowTheFramesAsTheyChange) {
    CID3v2Tag tag(Tools());
    ASSERT_TRUE(tag.Parse(Tag(3, {Frame("TPE1", Latin1("a")), Frame("TIT2", Latin1("first"))})));
    EXPECT_EQ(Field(tag, "Name"), "first");
    EXPECT_TRUE(tag.StoreField(KW_T("Name"), KW_T("second")));
    EXPECT_EQ(Field(tag, "Name"), "second");
    EXPECT_TRUE(tag.StoreField(KW_T("Name"), KW_T("")));
    EXPECT_EQ(Field(tag, "Name"), "<absent>");
    EXPECT_TRUE(tag.StoreField(KW_T("Name"), KW_T("third")));
    Bytes rendered;
    ASSERT_TRUE(tag.Render(rendered));  // orders the frames
    EXPECT_EQ(Field(tag, "Name"), "third");
    EXPECT_EQ(Field(tag, "Artist"), "a");
    // A read-only field is read from the TXXX frame a store writes it to,
    // and reading it adds no rows.
    ASSERT_TRUE(tag.Parse(Tag(3, {Frame("TXXX", Cat({Latin1("Date (release)"), {0}, Raw("x")}))})));
    const size_t rows = tag.RowCount();
    EXPECT_EQ(Field(tag, "Date (release)"), "x");
    EXPECT_EQ(tag.RowCount(), rows);
    // Storing it replaces that frame rather than adding a second one.
    EXPECT_TRUE(tag.StoreField(KW_T("Date (release)"), KW_T("y")));
    ASSERT_EQ(tag.FrameCount(), 1u);
    EXPECT_EQ(Field(tag, "Date (release)"), "y");
}

TEST(ID3v2PictureFile, RewrittenOnlyWhileTheNameStillNamesTheSameFile) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("id3-picture-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    const fs::path path = folder / "picture.png", moved = folder / "moved.png", other = folder / "other.png";
    const std::string first(3000, 'f'), second = "second";
    const struct {
        const char* what;
        std::function<void()> between;
        bool keepsMoved;  // the file moved away still holds the first picture
    } cases[] = {
        {"shorter picture after a longer one", [] {}, false},
        {"file deleted", [&] { fs::remove(path); }, false},
        {"file moved away", [&] { fs::rename(path, moved); }, true},
        {"file replaced", [&] {
             std::ofstream(other) << "replacement";
             fs::rename(other, path);
         }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(moved);
        ASSERT_TRUE(ID3v2WriteFile(KwFromUtf8(path.string()), Bytes(first.begin(), first.end())));
        EXPECT_EQ(Contents(path), first);
        c.between();
        ASSERT_TRUE(ID3v2WriteFile(KwFromUtf8(path.string()), Bytes(second.begin(), second.end())));
        EXPECT_EQ(Contents(path), second);
        if (c.keepsMoved) {
            EXPECT_EQ(Contents(moved), first);
        }
    }
    fs::remove_all(folder);
}

}  // namespace
