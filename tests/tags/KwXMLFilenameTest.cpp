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
    EXPECT_EQ(U8(KwXMLFilename(KW_T("C:\\Music\\a.dsf")).ToText()), "C:\\Music\\a.dsf");
    const KwString text = KwXMLFilename(KW_T("C:\\x.iso;3")).ToText();
    EXPECT_EQ(U8(text),
              "<XMLFN version=\"1.0\"><Item Name=\"Filename\">C:\\x.iso</Item>"
              "<Item Name=\"PostExtensionData\">3</Item></XMLFN>");
    EXPECT_EQ(KwXMLFilename(text).ToText(), text);  // so the same items
    // Escaping: & < > " and control characters; the apostrophe stays; a key
    // cannot break out of its attribute.
    KwXMLFilename odd(KW_T("C:\\R&B <'live'> \"x\"\x01.dff"));
    odd.Items().SetString(KW_T("k\"><Item Name=\"Filename\">evil"), KW_T("v"));
    const KwString oddText = odd.ToText();
    EXPECT_NE(U8(oddText).find("R&amp;B &lt;'live'&gt; &quot;x&quot;&#x1;.dff</Item>"), std::string::npos);
    KwXMLFilename oddBack(oddText);
    EXPECT_EQ(oddBack.FileName(), odd.FileName());
    EXPECT_TRUE(oddBack.Items().Equals(odd.Items()));
}

TEST(KwXMLFilename, XmlfnReading) {
    // Prefix and element name in any case; "Filename" in any case; references resolved.
    KwXMLFilename b(KW_T("<xmlfn version=\"1.0\">\r\n  <Item Name=\"FILENAME\">a&#x41;&#66;&amp;.dsf</Item>\r\n"
                         "  <Item Name=\"FileType\">dsf</Item><Other>x</Other></xmlfn>"));
    EXPECT_EQ(U8(b.FileName()), "aAB&.dsf");
    EXPECT_EQ(U8(b.Item(KW_T("filetype"))), "dsf");
    EXPECT_EQ(b.Items().Count(), 1u);
}

TEST(KwXMLFilename, BadXmlfnGivesEmptyNameAndKeepsItems) {
    // Parsing itself is the fuzz target's; these are the rules it cannot know.
    const KwChar* bad[] = {
        KW_T("<XMLFN version=\"1.00\"><Item Name=\"Filename\">a</Item></XMLFN>"),
        KW_T("<XMLFN version=\"2.0\"><Item Name=\"Filename\">a</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a&#0;</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a&#xD800;</Item></XMLFN>"),
        KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item></XMLFN>trailing"),
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

// The form the record writes is read without the XML reader; for it and for
// near variants that must go through the reader, the result is the reader's.
TEST(KwXMLFilename, DirectReadingAgreesWithXmlReader) {
    const char* const texts[] = {
        "<XMLFN version=\"1.0\"><Item Name=\"Filename\">/m/a b.dsf</Item><Item Name=\"FileType\">dsf</Item></XMLFN>",
        "<XMLFN version=\"1.0\"><Item Name=\"filename\">C:\\\xC3\xA9.iso</Item><Item Name=\"T\"></Item></XMLFN>",
        "<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item><Item Name=\"K\">1</Item><Item Name=\"k\">2</Item></XMLFN>",
        "<XMLFN version=\"1.0\"><Item Name=\"Filename\">a &amp; b</Item><Item Name=\"Q\">&quot;&#x1F;</Item></XMLFN>",
        "<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item> <Item Name=\"W\">  </Item></XMLFN>",
        "<XMLFN version=\"1.0\"><Item Name=\"Filename\">line\r\nend\t</Item></XMLFN>",
        "<XMLFN version=\"1.0\"><Item Name='Filename'>a</Item></XMLFN>",
        "<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item></XMLFN>trailing",
        "<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item>",
        "<XMLFN version=\"1.0\"></XMLFN>",
    };
    for (const char* text : texts) {
        const KwString wide = KwFromUtf8(text);
        const KwXMLFilename direct(wide);
        KwXMLFilename reference(KW_T(""));
        reference.ReadWithXmlReader(wide);
        EXPECT_EQ(U8(direct.FileName()), U8(reference.FileName())) << text;
        EXPECT_EQ(U8(KwXMLFilename::FileNameOf(wide)), U8(direct.FileName())) << text;
        EXPECT_EQ(U8(direct.Items().ToText(KW_T("["), KW_T("]"))), U8(reference.Items().ToText(KW_T("["), KW_T("]"))))
            << text;
    }
}

TEST(KwXml, CharacterDataAndTreeDepth) {
    KwXmlElement root;
    ASSERT_TRUE(KwXmlParse(KW_T("<?xml version=\"1.0\"?><!-- c --><a y='&lt;&#9;'>t1<b/><![CDATA[<&>]]>t2</a>"), root));
    EXPECT_EQ(U8(*root.Attribute(KW_T("y"))), "<\t");
    EXPECT_EQ(U8(root.text), "t1<&>t2");
    // Nesting is limited, without exhausting the stack.
    auto nested = [](int depth) {
        KwString s;
        for (int i = 0; i < depth; ++i) s += KW_T("<e>");
        for (int i = 0; i < depth; ++i) s += KW_T("</e>");
        return s;
    };
    EXPECT_TRUE(KwXmlParse(nested(kKwXmlMaxDepth), root));
    EXPECT_FALSE(KwXmlParse(nested(kKwXmlMaxDepth + 1), root));
    EXPECT_FALSE(KwXmlParse(nested(100000), root));
}

// A holder may pass on the text it parsed instead of ToText() when the
// record says the two are the same; the reader library takes the file name
// alone, as a whole record would give it.
TEST(KwXMLFilename, VerbatimTextsAndFileNameAlone) {
    const std::pair<const char*, bool> cases[] = {
        {"/m/a b.dsf", true},
        {"http://host/a.iso;2", true},
        {"C:\\x.iso;3", false},  // the track becomes an item
        {"<XMLFN version=\"1.0\"><Item Name=\"Filename\">/m/a.dsf</Item><Item Name=\"FileType\">dsf</Item></XMLFN>",
         true},
        {"<XMLFN version=\"1.0\"><Item Name=\"Filename\">/m/a.dsf</Item></XMLFN>", false},  // written bare
        {"<XMLFN version=\"1.0\"><Item Name=\"filename\">/m/a.dsf</Item><Item Name=\"T\">x</Item></XMLFN>", false},
        {"<XMLFN version=\"1.0\"><Item Name=\"T\">x</Item><Item Name=\"Filename\">/m/a.dsf</Item></XMLFN>", false},
        {"<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item><Item Name=\"FILENAME\">b</Item></XMLFN>", false},
        {"<XMLFN version=\"1.0\"><Item Name=\"Filename\">a</Item><Item Name=\"A\">1</Item><Item Name=\"B\">2</Item>"
         "</XMLFN>",
         false},
        {"<XMLFN version=\"1.0\"><Item Name=\"Filename\">a &amp; b</Item><Item Name=\"T\">x</Item></XMLFN>", false},
    };
    for (const auto& [text, verbatim] : cases) {
        const KwString wide = KwFromUtf8(text);
        KwXMLFilename name(KW_T("before.dsf;2"));
        name.Assign(wide);
        EXPECT_EQ(name.ParsedVerbatim(), verbatim) << text;
        if (name.ParsedVerbatim()) {
            EXPECT_EQ(U8(name.ToText()), text);
        }
        EXPECT_EQ(U8(KwXMLFilename::FileNameOf(wide)), U8(KwXMLFilename(wide).FileName())) << text;
        EXPECT_EQ(U8(name.ToText()), U8(KwXMLFilename(wide).ToText())) << text;  // Assign starts over
    }
}

}  // namespace
