// Small XML reading and writing facility.
//
// Reading turns a UTF-16 text into a plain element tree: names, attributes in
// document order, the character data directly inside each element (with
// character and entity references resolved) and the child elements. Parsing
// never throws; malformed input, undefined references and nesting deeper than
// the limit make it fail. The work is done by a real XML library (pugixml on
// Linux, the system's XmlLite on Windows).
//
// Writing builds the text by hand with the escaping that file-name texts use.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "KwTypes.h"

// Deepest nesting of elements that the reader accepts (the root is depth 1).
constexpr int kKwXmlMaxDepth = 64;

struct KwXmlAttribute {
    KwString name;
    KwString value;
};

class KwXmlElement {
public:
    KwString name;
    std::vector<KwXmlAttribute> attributes;
    // Character data (text, white space and CDATA sections) directly inside
    // this element, concatenated in document order.
    KwString text;
    std::vector<KwXmlElement> children;

    // The first attribute with exactly this name, or null.
    const KwString* Attribute(KwStringView attributeName) const;
    // The first child element with exactly this name, or null.
    const KwXmlElement* Child(KwStringView childName) const;
    // This element or its first descendant (depth first, document order) with
    // exactly this name, or null.
    const KwXmlElement* Find(KwStringView elementName) const;
};

// Parses a whole document (one root element, optional declaration, comments
// and processing instructions). On success `root` holds the root element and
// true is returned; on failure `root` is left empty and false is returned.
bool KwXmlParse(KwStringView text, KwXmlElement& root, int maxDepth = kKwXmlMaxDepth);

// Escaping of element text: "&", "<", ">" and the double quote become entity
// references, every other unit below 32 except tab, line feed and carriage
// return becomes a hexadecimal character reference ("&#x1F;"). The apostrophe
// is left alone.
KwString KwXmlEscapeText(KwStringView text);
// Escaping of attribute values: as for text, and tab, line feed and carriage
// return also become character references so that they survive the
// white-space normalisation of attribute values.
KwString KwXmlEscapeAttribute(KwStringView text);
// The same escaped texts appended to `out`.
void KwXmlAppendEscapedText(KwString& out, KwStringView text);
void KwXmlAppendEscapedAttribute(KwString& out, KwStringView text);

// Builds an XML text piece by piece.
class KwXmlWriter {
public:
    // "<name"
    void StartElement(KwStringView name);
    // ` name="value"` with the value escaped.
    void Attribute(KwStringView name, KwStringView value);
    // ">"
    void EndStartTag();
    // Escaped character data.
    void Text(KwStringView text);
    // "</name>"
    void EndElement(KwStringView name);
    // Text written as it is.
    void Raw(KwStringView text);

    const KwString& Result() const { return out_; }
    KwString Take() { return std::move(out_); }

private:
    KwString out_;
};
