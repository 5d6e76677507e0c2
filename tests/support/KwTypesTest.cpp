#include <gtest/gtest.h>

#include <string>

#include "support/KwTypes.h"

namespace {

const KwChar kReplacement = static_cast<KwChar>(0xFFFD);

KwString Units(std::initializer_list<uint16_t> units) {
    KwString s;
    for (uint16_t u : units) s.push_back(static_cast<KwChar>(u));
    return s;
}

}  // namespace

TEST(KwTypes, Utf8AndUtf16RoundTrip) {
    // One, two, three and four byte sequences, the last as a surrogate pair.
    const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5\xEF\xBF\xBF\xF4\x8F\xBF\xBF";
    const KwString utf16 = KwFromUtf8(utf8);
    EXPECT_EQ(utf16, Units({0x41, 0xE9, 0x20AC, 0xD83C, 0xDFB5, 0xFFFF, 0xDBFF, 0xDFFF}));
    EXPECT_EQ(KwToUtf8(utf16), utf8);
    EXPECT_EQ(KwFromUtf8(std::string("a\0b", 3)), Units({0x61, 0, 0x62}));
    // ASCII runs of every length around the wider characters (read four at a time).
    for (size_t run = 0; run < 10; ++run) {
        const std::string ascii(run, 'x');
        const std::string mixed = ascii + "\xC3\xA9" + ascii + "\xF0\x9F\x8E\xB5" + ascii;
        EXPECT_EQ(KwToUtf8(KwFromUtf8(mixed)), mixed) << run;
        EXPECT_EQ(KwToUtf8(KwFromUtf8(ascii)), ascii) << run;
    }
}

TEST(KwTypes, InvalidUtf8BecomesReplacementCharacters) {
    const KwString r(1, kReplacement);
    EXPECT_EQ(KwFromUtf8("\x80"), r);                           // stray continuation
    EXPECT_EQ(KwFromUtf8("\xFF"), r);                           // invalid lead byte
    EXPECT_EQ(KwFromUtf8("\xC0\xAF"), r + r);                   // overlong "/"
    EXPECT_EQ(KwFromUtf8("\xE0\x80\xAF"), r + r + r);           // overlong three bytes
    EXPECT_EQ(KwFromUtf8("\xED\xA0\x80"), r + r + r);           // encoded surrogate
    EXPECT_EQ(KwFromUtf8("\xF4\x90\x80\x80"), r + r + r + r);   // beyond U+10FFFF
    EXPECT_EQ(KwFromUtf8("\xE2\x82"), r + r);                   // truncated at the end
    EXPECT_EQ(KwFromUtf8("\xE2\x82x"), r + r + KW_T("x"));      // truncated in the middle
    EXPECT_EQ(KwFromUtf8("\xC3\xA9\xC3"), KwString(1, static_cast<KwChar>(0xE9)) + r);
}

TEST(KwTypes, LoneSurrogatesBecomeReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(KwToUtf8(Units({0xD800})), replacement);
    EXPECT_EQ(KwToUtf8(Units({0xDC00, 0x41})), replacement + "A");
    EXPECT_EQ(KwToUtf8(Units({0xD800, 0x41})), replacement + "A");
    EXPECT_EQ(KwToUtf8(Units({0xD800, 0xD800, 0xDC00})), replacement + "\xF0\x90\x80\x80");
}

TEST(KwTypes, FoldsCase) {
    // {character, folded}: ASCII, Latin-1 (with its exceptions), Latin Extended-A
    // pairs of both parities, Greek, Cyrillic, full-width, and unchanged ones.
    const uint16_t cases[][2] = {{'A', 'a'},     {'z', 'z'},     {'[', '['},       {'@', '@'},       {0xC0, 0xE0},
                                 {0xD7, 0xD7},   {0xDE, 0xFE},   {0xDF, 0xDF},     {0x178, 0xFF},    {0x100, 0x101},
                                 {0x101, 0x101}, {0x139, 0x13A}, {0x13A, 0x13A},   {0x152, 0x153},   {0x17D, 0x17E},
                                 {0x391, 0x3B1}, {0x3A2, 0x3A2}, {0x401, 0x451},   {0x42F, 0x44F},   {0xFF21, 0xFF41},
                                 {0x4E00, 0x4E00}};
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<uint16_t>(KwFoldCase(static_cast<KwChar>(c[0]))), c[1]) << std::hex << c[0];

    EXPECT_TRUE(KwEqualsNoCase(KW_T("Support Tag Writing"), KW_T("support TAG writing")));
    EXPECT_TRUE(KwEqualsNoCase(KwFromUtf8("\xC3\x89T\xC3\x89"), KwFromUtf8("\xC3\xA9t\xC3\xA9")));
    EXPECT_TRUE(KwStartsWithNoCase(KW_T("FILE.DSF"), KW_T("file")));
    EXPECT_FALSE(KwStartsWithNoCase(KW_T("fi"), KW_T("file")));
}
