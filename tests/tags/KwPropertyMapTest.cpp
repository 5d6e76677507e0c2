#include <gtest/gtest.h>

#include <cstdint>

#include "support/KwArchive.h"
#include "support/KwNumbers.h"
#include "support/KwStringMap.h"
#include "tags/KwPropertyMap.h"

namespace {

std::string U8(KwStringView s) { return KwToUtf8(s); }

TEST(KwPropertyMap, KeysIgnoreCaseValuesConvert) {
    KwPropertyMap map;
    EXPECT_EQ(U8(map.GetString(KW_T("x"), KW_T("dflt"))), "dflt");
    EXPECT_EQ(map.GetInt(KW_T("x"), -42), -42);
    EXPECT_EQ(map.GetDouble(KW_T("x"), 2.5), 2.5);
    EXPECT_EQ(map.GetPointer(KW_T("x"), 0x123456789ABCDEF0ull), 0x123456789ABCDEF0ull);
    map.Remove(KW_T("nothing"));  // no table yet: harmless

    // The first spelling of a key stays; folding reaches beyond ASCII.
    map.SetString(KW_T("Track"), KW_T("7"));
    map.SetString(KW_T("TRACK"), KW_T("8"));
    EXPECT_EQ(U8(map.ToText(KW_T("["), KW_T("]"))), "[Track: 8]");
    map.SetString(KW_T("\u00C4RGER"), KW_T("x"));
    EXPECT_EQ(U8(map.GetString(KW_T("\u00E4rger"))), "x");

    map.SetInt(KW_T("i"), -2147483647);
    EXPECT_EQ(U8(map.GetString(KW_T("i"))), "-2147483647");
    map.SetDouble(KW_T("d"), 0.125);
    EXPECT_EQ(map.GetString(KW_T("d")), KwFormatDouble(0.125));
    EXPECT_EQ(map.GetDouble(KW_T("d")), 0.125);
    map.SetPointer(KW_T("p"), 0xFEDCBA9876543210ull);
    EXPECT_EQ(map.GetPointer(KW_T("p")), 0xFEDCBA9876543210ull);
    map.SetString(KW_T("junk"), KW_T("abc"));
    EXPECT_EQ(map.GetInt(KW_T("junk"), 9), 0);
    EXPECT_EQ(map.GetDouble(KW_T("junk"), 9.0), 0.0);

    // An empty value is stored unless asked to remove; the last removal drops the table.
    map.SetString(KW_T("Empty"), KW_T(""));
    EXPECT_EQ(map.Count(), 7u);
    for (const KwChar* key : {KW_T("EMPTY"), KW_T("track"), KW_T("\u00E4RGER"), KW_T("I"), KW_T("D"), KW_T("P"),
                              KW_T("Junk")})
        map.SetString(key, KW_T(""), true);
    EXPECT_TRUE(map.IsEmpty());
}

TEST(KwPropertyMap, AssignAndEquals) {
    KwPropertyMap a;
    for (int i = 0; i < 100; ++i) a.SetInt(KwFormatInt32(i), i * 3);  // forces the table to grow
    EXPECT_TRUE(a.Assign(a));
    KwPropertyMap b;
    b.SetString(KW_T("old"), KW_T("gone"));
    EXPECT_TRUE(b.Assign(a));
    EXPECT_FALSE(b.Exists(KW_T("old")));
    EXPECT_TRUE(a.Equals(b) && b.Equals(a));
    EXPECT_EQ(b.GetInt(KW_T("99")), 297);

    // Keys without regard to case, values exactly.
    KwPropertyMap x, y;
    x.SetString(KW_T("Key"), KW_T("v"));
    y.SetString(KW_T("KEY"), KW_T("v"));
    EXPECT_TRUE(x.Equals(y));
    y.SetString(KW_T("key"), KW_T("V"));
    EXPECT_FALSE(x.Equals(y));
    y.SetString(KW_T("key"), KW_T("v"));
    y.SetString(KW_T("more"), KW_T("1"));
    EXPECT_FALSE(x.Equals(y));
}

TEST(KwPropertyMap, SaveLoadRoundTripAndDamage) {
    KwPropertyMap map;
    map.SetString(KW_T("Title"), KW_T("Caf\u00E9 \U0001F3B5"));
    map.SetString(KW_T("Empty"), KW_T(""));
    KwArchive archive;
    map.Save(archive, true);
    map.Save(archive, false);  // a second record: count 0

    KwPropertyMap loaded;
    loaded.SetString(KW_T("stale"), KW_T("x"));
    size_t position = 0;
    ASSERT_TRUE(loaded.Load(archive, position));
    EXPECT_TRUE(loaded.Equals(map));
    ASSERT_TRUE(loaded.Load(archive, position));
    EXPECT_TRUE(loaded.IsEmpty());
    EXPECT_EQ(position, archive.Size());
    EXPECT_TRUE(loaded.LoadFromStart(archive));
    EXPECT_TRUE(loaded.Equals(map));

    // Every truncation fails cleanly and leaves an empty map.
    size_t firstRecord = 0;
    KwPropertyMap probe;
    ASSERT_TRUE(probe.Load(archive, firstRecord));
    for (size_t cut = 0; cut < firstRecord; ++cut) {
        KwArchive truncated(archive.Data(), cut);
        size_t p = 0;
        EXPECT_FALSE(loaded.Load(truncated, p)) << cut;
        EXPECT_TRUE(loaded.IsEmpty());
        EXPECT_EQ(p, 0u);
    }

    // A negative or absurd count, and a text length beyond the data.
    KwArchive bad;
    bad.WriteInt32(-1);
    EXPECT_FALSE(loaded.LoadFromStart(bad));
    bad.Clear();
    bad.WriteInt32(0x7FFFFFFF);
    bad.WriteString(KW_T("k"));
    bad.WriteString(KW_T("v"));
    EXPECT_FALSE(loaded.LoadFromStart(bad));
    bad.Clear();
    bad.WriteInt32(1);
    bad.WriteInt32(0x40000000);
    bad.WriteInt32(0);
    EXPECT_FALSE(loaded.LoadFromStart(bad));
    EXPECT_FALSE(loaded.LoadFromStart(KwArchive()));
}

TEST(KwPropertyMap, XmlRoundTrip) {
    KwPropertyMap map;
    EXPECT_EQ(U8(map.ToXML(KW_T("Props"), true, 1.0)), "");
    const std::string sep(1, static_cast<char>(KwDecimalSeparator()));
    EXPECT_EQ(U8(map.ToXML(KW_T("Props"), false, 2.0)), "<Props version=\"2" + sep + "0\">\r\n</Props>");
    EXPECT_EQ(U8(map.ToXML(KW_T("P"), false, 1.04)), "<P version=\"1" + sep + "0\">\r\n</P>");

    map.SetString(KW_T("Plain"), KW_T("text"));
    map.SetString(KW_T("Markup"), KW_T("a & b < c > \"d\" 'e'"));
    map.SetString(KW_T("Lines"), KW_T("one\r\ntwo\tthree"));
    map.SetString(KW_T("Control"), KW_T("\x01\x1F"));
    map.SetString(KW_T("Spaces"), KW_T("   "));
    map.SetString(KW_T("Odd \"key\" <&>\t"), KW_T("v"));
    map.SetString(KW_T("Unicode"), KW_T("\u65E5\u672C \U0001F3B5"));
    const KwString xml = map.ToXML(KW_T("Props"), true, 1.0);
    EXPECT_NE(xml.find(KW_T("&amp;")), KwString::npos);
    EXPECT_NE(xml.find(KW_T("&#x1F;")), KwString::npos);

    KwPropertyMap back;
    back.SetString(KW_T("stale"), KW_T("x"));
    ASSERT_TRUE(back.FromXML(xml, KW_T("Props")));
    EXPECT_TRUE(back.Equals(map)) << U8(back.ToText(KW_T(""), KW_T("|")));

    // The element may sit deeper in a larger document.
    KwPropertyMap nested;
    ASSERT_TRUE(nested.FromXML(KW_T("<Root><Other/><Props version=\"1.0\"><Item Name=\"k\">v</Item></Props></Root>"),
                               KW_T("Props")));
    EXPECT_EQ(U8(nested.GetString(KW_T("K"))), "v");

    // Missing element or broken markup: false and the map untouched.
    EXPECT_FALSE(nested.FromXML(KW_T("<Root/>"), KW_T("Props")));
    EXPECT_FALSE(nested.FromXML(KW_T("<Props version=\"1.0\"><Item Name=\"k\">v</Props>"), KW_T("Props")));
    EXPECT_FALSE(nested.FromXML(KW_T("<Props><Item Name=\"k\">&bogus;</Item></Props>"), KW_T("Props")));
    EXPECT_EQ(U8(nested.GetString(KW_T("k"))), "v");
}

}  // namespace
