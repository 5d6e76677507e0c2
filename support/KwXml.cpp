// XML facility: the parts shared by every platform (lookup, escaping,
// writing) and, outside Windows, the reader over pugixml. The Windows reader
// is in KwXmlWin.cpp.
#include "KwXml.h"

const KwString* KwXmlElement::Attribute(KwStringView attributeName) const {
    for (const auto& a : attributes)
        if (a.name == attributeName) return &a.value;
    return nullptr;
}

const KwXmlElement* KwXmlElement::Child(KwStringView childName) const {
    for (const auto& c : children)
        if (c.name == childName) return &c;
    return nullptr;
}

const KwXmlElement* KwXmlElement::Find(KwStringView elementName) const {
    if (name == elementName) return this;
    // The tree is at most kKwXmlMaxDepth deep, so recursion is bounded.
    for (const auto& c : children)
        if (const KwXmlElement* found = c.Find(elementName)) return found;
    return nullptr;
}

namespace {

void AppendHexReference(KwString& out, unsigned code) {
    static const char digits[] = "0123456789ABCDEF";
    out += KW_T("&#x");
    char buffer[8];
    int n = 0;
    do {
        buffer[n++] = digits[code & 15];
        code >>= 4;
    } while (code && n < 8);
    while (n) out.push_back(static_cast<KwChar>(buffer[--n]));
    out.push_back(KW_T(';'));
}

void AppendEscaped(KwString& out, KwStringView text, bool attribute) {
    out.reserve(out.size() + text.size() + 16);
    for (KwChar c : text) {
        const auto u = static_cast<uint16_t>(c);
        switch (u) {
            case '&': out += KW_T("&amp;"); break;
            case '<': out += KW_T("&lt;"); break;
            case '>': out += KW_T("&gt;"); break;
            case '"': out += KW_T("&quot;"); break;
            default:
                if (u < 32 && (attribute || (u != '\t' && u != '\n' && u != '\r')))
                    AppendHexReference(out, u);
                else
                    out.push_back(c);
        }
    }
}

}  // namespace

KwString KwXmlEscapeText(KwStringView text) {
    KwString out;
    AppendEscaped(out, text, false);
    return out;
}
KwString KwXmlEscapeAttribute(KwStringView text) {
    KwString out;
    AppendEscaped(out, text, true);
    return out;
}
void KwXmlAppendEscapedText(KwString& out, KwStringView text) { AppendEscaped(out, text, false); }
void KwXmlAppendEscapedAttribute(KwString& out, KwStringView text) { AppendEscaped(out, text, true); }

void KwXmlWriter::StartElement(KwStringView name) {
    out_.push_back(KW_T('<'));
    out_.append(name);
}

void KwXmlWriter::Attribute(KwStringView name, KwStringView value) {
    out_.push_back(KW_T(' '));
    out_.append(name);
    out_ += KW_T("=\"");
    KwXmlAppendEscapedAttribute(out_, value);
    out_.push_back(KW_T('"'));
}

void KwXmlWriter::EndStartTag() { out_.push_back(KW_T('>')); }

void KwXmlWriter::Text(KwStringView text) { KwXmlAppendEscapedText(out_, text); }

void KwXmlWriter::EndElement(KwStringView name) {
    out_ += KW_T("</");
    out_.append(name);
    out_.push_back(KW_T('>'));
}

void KwXmlWriter::Raw(KwStringView text) { out_.append(text); }

#if !defined(_WIN32)

#include <new>

#include <pugixml.hpp>

namespace {

// Resolves the five predefined entities and decimal and hexadecimal character
// references. pugixml leaves references it does not understand as they are,
// so it runs with its own resolution off and this strict one decides: any
// other "&" makes the document malformed. References to units below 32 are
// accepted (the writer produces them for control characters); the zero unit,
// surrogates and non-characters are not.
bool ResolveReferences(KwStringView in, KwString& out) {
    out.clear();
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        const KwChar c = in[i];
        if (c != KW_T('&')) {
            out.push_back(c);
            ++i;
            continue;
        }
        const size_t semi = in.find(KW_T(';'), i + 1);
        if (semi == KwStringView::npos) return false;
        const KwStringView ref = in.substr(i + 1, semi - i - 1);
        i = semi + 1;
        if (ref == KW_T("amp")) {
            out.push_back(KW_T('&'));
        } else if (ref == KW_T("lt")) {
            out.push_back(KW_T('<'));
        } else if (ref == KW_T("gt")) {
            out.push_back(KW_T('>'));
        } else if (ref == KW_T("quot")) {
            out.push_back(KW_T('"'));
        } else if (ref == KW_T("apos")) {
            out.push_back(KW_T('\''));
        } else if (ref.size() >= 2 && ref[0] == KW_T('#')) {
            const bool hex = ref[1] == KW_T('x');
            const size_t start = hex ? 2 : 1;
            if (start >= ref.size()) return false;
            uint32_t cp = 0;
            for (size_t k = start; k < ref.size(); ++k) {
                const auto d = static_cast<uint16_t>(ref[k]);
                uint32_t v;
                if (d >= '0' && d <= '9')
                    v = d - '0';
                else if (hex && d >= 'a' && d <= 'f')
                    v = d - 'a' + 10;
                else if (hex && d >= 'A' && d <= 'F')
                    v = d - 'A' + 10;
                else
                    return false;
                cp = cp * (hex ? 16 : 10) + v;
                if (cp > 0x10FFFF) return false;
            }
            if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return false;
            KwAppendCodePoint(out, cp);
        } else {
            return false;
        }
    }
    return true;
}

bool Convert(const pugi::xml_node& node, KwXmlElement& element, int depth, int maxDepth) {
    if (depth > maxDepth) return false;
    element.name = KwFromUtf8(node.name());
    KwString resolved;
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        if (!ResolveReferences(KwFromUtf8(a.value()), resolved)) return false;
        element.attributes.push_back({KwFromUtf8(a.name()), resolved});
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        switch (child.type()) {
            case pugi::node_element:
                element.children.emplace_back();
                if (!Convert(child, element.children.back(), depth + 1, maxDepth)) return false;
                break;
            case pugi::node_pcdata:
                if (!ResolveReferences(KwFromUtf8(child.value()), resolved)) return false;
                element.text += resolved;
                break;
            case pugi::node_cdata:
                element.text += KwFromUtf8(child.value());
                break;
            default:
                break;
        }
    }
    return true;
}

bool IsWhiteSpace(const char* s) {
    for (; *s; ++s)
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return false;
    return true;
}

}  // namespace

bool KwXmlParse(KwStringView text, KwXmlElement& root, int maxDepth) {
    root = KwXmlElement();
    // The zero unit is not a character of XML; pugixml would take it for the end.
    if (text.find(KwChar(0)) != KwStringView::npos) return false;
    try {
        // Line ends are kept as written (a carriage return in a value survives
        // a round trip), white space inside elements is kept, and references
        // are resolved by ResolveReferences. Fragment mode keeps character
        // data outside the root element, which is then refused below.
        const unsigned options =
            pugi::parse_cdata | pugi::parse_wconv_attribute | pugi::parse_ws_pcdata | pugi::parse_fragment;
        pugi::xml_document document;
        const pugi::xml_parse_result result =
            document.load_buffer(text.data(), text.size() * sizeof(KwChar), options, pugi::encoding_utf16);
        if (!result) return false;
        pugi::xml_node element;
        for (pugi::xml_node n = document.first_child(); n; n = n.next_sibling()) {
            if (n.type() == pugi::node_element) {
                if (element) return false;  // a second root element
                element = n;
            } else if ((n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) && !IsWhiteSpace(n.value())) {
                return false;  // character data outside the root element
            }
        }
        if (!element) return false;
        KwXmlElement parsed;
        if (!Convert(element, parsed, 1, maxDepth)) return false;
        root = std::move(parsed);
        return true;
    } catch (const std::bad_alloc&) {
        root = KwXmlElement();
        return false;
    }
}

#endif
