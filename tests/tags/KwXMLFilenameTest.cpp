#include <gtest/gtest.h>

#include "support/KwXml.h"
#include "tags/KwXMLFilename.h"

namespace {

std::string U8(KwStringView s) { return KwToUtf8(s); }

TEST(KwXMLFilename, PlainPathTrackSuffix) {
    // A suffix after an extension of up to five characters is an item (an
    // empty one too).
    const char* const split[][3] = {
        {"C:\\Music\\Disc.sacd;2", "C:\\Music\\Disc.sacd", "2"}, {"/m/a.b/x.iso;3", "/m/a.b/x.iso", "3"},
        {"a.abcde;", "a.abcde", ""}};
    for (const auto& c : split) {
        KwXMLFilename name(KwFromUtf8(c[0]));
        EXPECT_EQ(U8(name.FileName()), c[1]);
        EXPECT_EQ(name.Items().Count(), 1u) << c[0];
        EXPECT_EQ(U8(name.Item(KW_T("postextensiondata"))), c[2]);
        EXPECT_TRUE(name.Flag());
    }
    // Left whole: no semicolon, six-character extension, URL, trailing
    // backslash, semicolon before the last full stop, nothing between them.
    for (const KwChar* whole : {KW_T("C:\\Music\\a.dsf"), KW_T("C:\\a.abcdef;2"), KW_T("http://host/a.iso;2"),
                                KW_T("C:\\dir.iso;2\\"), KW_T("C:\\a;2.iso"), KW_T("C:\\a.;2"), KW_T("")}) {
        KwXMLFilename name(whole);
        EXPECT_EQ(name.FileName(), KwString(whole)) << U8(whole);
        EXPECT_TRUE(name.Items().IsEmpty()) << U8(whole);
    }
    EXPECT_TRUE(KwXMLFilename(static_cast<const KwChar*>(nullptr)).FileName().empty());
}

TEST(KwXMLFilename, RendersAndParsesBack) {
    KwXMLFilename bare(KW_T("C:\\Music\\a.dsf"));
    EXPECT_EQ(U8(bare.ToText()), "C:\\Music\\a.dsf");

    KwXMLFilename disc(KW_T("C:\\x.iso;3"));
    const KwString text = disc.ToText();
    EXPECT_EQ(U8(text),
              "<XMLFN version=\"1.0\"><Item Name=\"Filename\">C:\\x.iso</Item>"
              "<Item Name=\"PostExtensionData\">3</Item></XMLFN>");
    KwXMLFilename back(text);
    EXPECT_EQ(U8(back.FileName()), "C:\\x.iso");
    EXPECT_EQ(back.ToText(), text);  // so the same items

    // Escaping: & < > " and control characters; the apostrophe stays.
    KwXMLFilename odd(KW_T("C:\\R&B <'live'> \"x\"\x01.dff"));
    odd.Items().SetString(KW_T("FileType"), KW_T("dff"));
    const KwString oddText = odd.ToText();
    EXPECT_NE(U8(oddText).find("R&amp;B &lt;'live'&gt; &quot;x&quot;&#x1;.dff</Item>"), std::string::npos)
        << U8(oddText);
    KwXMLFilename oddBack(oddText);
    EXPECT_EQ(oddBack.FileName(), odd.FileName());
    EXPECT_EQ(U8(oddBack.Item(KW_T("filetype"))), "dff");

    // A key cannot break out of its attribute.
    KwXMLFilename sneaky(KW_T("a.dsf"));
    sneaky.Items().SetString(KW_T("k\"><Item Name=\"Filename\">evil"), KW_T("v"));
    KwXMLFilename sneakyBack(sneaky.ToText());
    EXPECT_EQ(U8(sneakyBack.FileName()), "a.dsf");
    EXPECT_TRUE(sneakyBack.Items().Equals(sneaky.Items()));
}

TEST(KwXMLFilename, XmlfnReading) {
    // Prefix and element name in any case; "Filename" in any case; references resolved.
    KwXMLFilename b(KW_T("<xmlfn version=\"1.0\">\r\n  <Item Name=\"FILENAME\">a&#x41;&#66;&amp;.dsf</Item>\r\n"
                         "  <Item Name=\"FileType\">dsf</Item><Other>x</Other></xmlfn>"));
    EXPECT_EQ(U8(b.FileName()), "aAB&.dsf");
    EXPECT_EQ(U8(b.Item(KW_T("FileType"))), "dsf");
    EXPECT_EQ(b.Items().Count(), 1u);

    // Parsing with and without clearing the items that were there before.
    KwXMLFilename c(KW_T("plain.dsf"));
    c.Items().SetString(KW_T("Keep"), KW_T("1"));
    c.SetFileName(KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">n</Item><Item Name=\"T\">2</Item></XMLFN>"));
    c.Parse(false);
    EXPECT_EQ(U8(c.FileName()), "n");
    EXPECT_EQ(c.Items().Count(), 2u);
    c.SetFileName(KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">m</Item></XMLFN>"));
    c.Parse(true);
    EXPECT_EQ(U8(c.FileName()), "m");
    EXPECT_TRUE(c.Items().IsEmpty());
}

TEST(KwXMLFilename, BadXmlfnGivesEmptyNameAndKeepsItems) {
    const KwChar* bad[] = {
        KW_T("<XMLFN version=\"1.00\"><Item Name=\"Filename\">a</Item></XMLFN>"),
        KW_T("<XMLFN version=\"2.0\"><Item Name=\"Filename\">a</Item></XMLFN>"),
        KW_T("<XMLFN version=1.0><Item Name=\"Filename\">a</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a&#xZZ;</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a&#0;</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a&#xD800;</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a&#x110000;</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a&nbsp;</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a & b</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item></XMLFN><XMLFN/>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item></XMLFN>trailing"),
        KW_T("<XMLFN version="),
        KW_T("<XMLFN VERSION=\"1.0\"><Item Name=\"Filename\">a</Item></XMLFN>"),  // attribute names keep case
    };
    for (const KwChar* text : bad) {
        KwXMLFilename name(KW_T("x.dsf"));
        name.Items().SetString(KW_T("Before"), KW_T("1"));
        name.SetFileName(text);
        name.Parse(false);
        EXPECT_TRUE(name.FileName().empty()) << U8(text);
        EXPECT_EQ(name.Items().Count(), 1u) << U8(text);
        EXPECT_EQ(U8(name.Item(KW_T("before"))), "1");
    }
}

TEST(KwXml, TreeDepthAndCharacterData) {
    KwXmlElement root;
    ASSERT_TRUE(KwXmlParse(KW_T("<?xml version=\"1.0\"?><!-- c --><a x=\"1\" y='&lt;&#9;'>t1<b/><![CDATA[<&>]]>t2<c>"
                                "<d z=\"\"/></c></a>"),
                           root));
    EXPECT_EQ(U8(root.name), "a");
    ASSERT_EQ(root.attributes.size(), 2u);
    EXPECT_EQ(U8(root.attributes[1].name), "y");
    EXPECT_EQ(U8(*root.Attribute(KW_T("y"))), "<\t");
    EXPECT_EQ(U8(root.text), "t1<&>t2");
    ASSERT_EQ(root.children.size(), 2u);
    ASSERT_NE(root.Find(KW_T("d")), nullptr);
    EXPECT_NE(root.Find(KW_T("d"))->Attribute(KW_T("z")), nullptr);
    EXPECT_EQ(root.Child(KW_T("d")), nullptr);

    // Raw white space in an attribute becomes spaces; references stay.
    ASSERT_TRUE(KwXmlParse(KW_T("<a v=\"1\t2\n3&#10;4\"/>"), root));
    EXPECT_EQ(U8(*root.Attribute(KW_T("v"))), "1 2 3\n4");

    auto nested = [](int depth) {
        KwString s;
        for (int i = 0; i < depth; ++i) s += KW_T("<e>");
        for (int i = 0; i < depth; ++i) s += KW_T("</e>");
        return s;
    };
    EXPECT_TRUE(KwXmlParse(nested(kKwXmlMaxDepth), root));
    EXPECT_FALSE(KwXmlParse(nested(kKwXmlMaxDepth + 1), root));
    EXPECT_TRUE(root.name.empty());
    EXPECT_FALSE(KwXmlParse(nested(100000), root));  // no stack exhaustion

    for (const KwChar* bad : {KW_T(""), KW_T("text"), KW_T("<a>"), KW_T("<a></b>"), KW_T("</a>"), KW_T("<a x=1/>"),
                              KW_T("<a><</a>")})
        EXPECT_FALSE(KwXmlParse(bad, root)) << U8(bad);
    EXPECT_FALSE(KwXmlParse(KwString(KW_T("<a>\0</a>"), 8), root));
}

}  // namespace
