#include "tags/KwXMLFilename.h"

#include <cstring>
#include <utility>
#include <vector>

#include "support/KwXml.h"

KwXMLFilename::KwXMLFilename(const KwChar* text) : KwXMLFilename(text ? KwStringView(text) : KwStringView()) {}

KwXMLFilename::KwXMLFilename(KwStringView text) : fileName_(text) { Parse(false); }

KwXMLFilename::KwXMLFilename(const KwXMLFilename& other) { Copy(other); }

KwXMLFilename& KwXMLFilename::operator=(const KwXMLFilename& other) {
    Copy(other);
    return *this;
}

void KwXMLFilename::Assign(KwStringView text) {
    fileName_.assign(text);
    items_.Clear();
    flag_ = true;
    Parse(false);
}

void KwXMLFilename::Copy(const KwXMLFilename& other) {
    if (&other == this) return;
    fileName_ = other.fileName_;
    items_.Assign(other.items_);
    flag_ = other.flag_;
    verbatim_ = other.verbatim_;
}

void KwXMLFilename::Parse(bool clear) {
    if (clear) items_.Clear();
    verbatim_ = false;
    if (KwStartsWithNoCase(fileName_, KW_T("<XMLFN version=")))
        ParseXml();
    else
        ParsePlain();
}

namespace {

// Whether `s` starts with `prefix` at `pos`; advances past it when it does.
bool Take(KwStringView s, size_t& pos, KwStringView prefix) {
    if (s.size() - pos < prefix.size() ||
        std::memcmp(s.data() + pos, prefix.data(), prefix.size() * sizeof(KwChar)) != 0)
        return false;
    pos += prefix.size();
    return true;
}

// Reads up to `stop`; false on a unit that the general reader would treat in
// a way of its own: references, markup, control characters and surrogates.
bool TakeUpTo(KwStringView s, size_t& pos, KwChar stop, KwStringView& out) {
    const size_t start = pos;
    for (; pos < s.size(); ++pos) {
        const auto u = static_cast<uint16_t>(s[pos]);
        if (u == stop) {
            out = s.substr(start, pos - start);
            return true;
        }
        if (u < 0x20 || u == '&' || u == '<' || u == '>' || u == '"' || (u >= 0xD800 && u <= 0xDFFF)) return false;
    }
    return false;
}

}  // namespace

bool KwXMLFilename::ParseWrittenForm(KwStringView text, bool keepItems) {
    size_t pos = 0;
    if (!Take(text, pos, KW_T("<XMLFN version=\"1.0\">"))) return false;
    std::vector<std::pair<KwStringView, KwStringView>> items;
    while (!Take(text, pos, KW_T("</XMLFN>"))) {
        KwStringView key, value;
        if (!Take(text, pos, KW_T("<Item Name=\"")) || !TakeUpTo(text, pos, KW_T('"'), key) ||
            !Take(text, pos, KW_T("\">")) || !TakeUpTo(text, pos, KW_T('<'), value) ||
            !Take(text, pos, KW_T("</Item>")))
            return false;
        // White space alone is kept by the general reader too, but take no
        // chances with it.
        if (!value.empty() && value.find_first_not_of(KW_T(' ')) == KwStringView::npos) return false;
        items.emplace_back(key, value);
    }
    if (pos != text.size()) return false;
    // The file name first, spelled as ToText writes it, and one item more:
    // ToText writes the text back unchanged (none of the units taken needs
    // escaping). With more items their order in the map decides.
    verbatim_ = items_.IsEmpty() && items.size() == 2 && items[0].first == KW_T("Filename") &&
                !KwEqualsNoCase(items[1].first, KW_T("Filename"));
    for (const auto& [key, value] : items) {
        if (KwEqualsNoCase(key, KW_T("Filename")))
            fileName_.assign(value);
        else if (keepItems)
            items_.SetString(key, value);
    }
    return true;
}

KwString KwXMLFilename::FileNameOf(KwStringView text) {
    KwXMLFilename name;
    if (KwStartsWithNoCase(text, KW_T("<XMLFN version="))) {
        if (!name.ParseWrittenForm(text, false)) name.ReadWithXmlReader(text);
    } else {
        name.fileName_.assign(text);
        name.ParsePlain();
    }
    return std::move(name.fileName_);
}

void KwXMLFilename::ParseXml() {
    const KwString text = std::move(fileName_);
    fileName_.clear();
    // The form this class writes is read directly; everything else goes
    // through the XML reader.
    if (!ParseWrittenForm(text)) ReadWithXmlReader(text);
}

void KwXMLFilename::ReadWithXmlReader(KwStringView text) {
    KwXmlElement root;
    if (!KwXmlParse(text, root)) return;
    // The text starts with the element's tag, so the element is the root; its
    // name is taken in any case, as the start of the text is.
    if (!KwEqualsNoCase(root.name, KW_T("XMLFN"))) return;
    const KwString* version = root.Attribute(KW_T("version"));
    if (!version || *version != KW_T("1.0")) return;
    for (const KwXmlElement& item : root.children) {
        if (item.name != KW_T("Item")) continue;
        const KwString* name = item.Attribute(KW_T("Name"));
        const KwStringView key = name ? KwStringView(*name) : KwStringView();
        if (KwEqualsNoCase(key, KW_T("Filename")))
            fileName_ = item.text;
        else
            items_.SetString(key, item.text);
    }
}

void KwXMLFilename::ParsePlain() {
    // A name that gains no item is written back as it is.
    verbatim_ = items_.IsEmpty();
    // URLs and folder names are taken as they are.
    if (fileName_.find(KW_T("://")) != KwString::npos) return;
    if (!fileName_.empty() && fileName_.back() == KW_T('\\')) return;
    const size_t semicolon = fileName_.rfind(KW_T(';'));
    const size_t dot = fileName_.rfind(KW_T('.'));
    if (semicolon == KwString::npos || dot == KwString::npos || dot > semicolon) return;
    const size_t extension = semicolon - dot - 1;
    if (extension < 1 || extension > 5) return;
    items_.SetString(KW_T("PostExtensionData"), KwStringView(fileName_).substr(semicolon + 1));
    fileName_.resize(semicolon);
    verbatim_ = false;
}

KwString KwXMLFilename::ToText() const {
    if (items_.IsEmpty()) return fileName_;
    KwString out;
    out.reserve(fileName_.size() + 48 * (items_.Count() + 2));  // grown once at most
    out = KW_T("<XMLFN version=\"1.0\"><Item Name=\"Filename\">");
    KwXmlAppendEscapedText(out, fileName_);
    out += KW_T("</Item>");
    items_.ForEach([&out](const KwString& key, const KwString& value) {
        // The key is escaped like an attribute value, so that no key can
        // break the markup or pose as another item.
        out += KW_T("<Item Name=\"");
        KwXmlAppendEscapedAttribute(out, key);
        out += KW_T("\">");
        KwXmlAppendEscapedText(out, value);
        out += KW_T("</Item>");
    });
    out += KW_T("</XMLFN>");
    return out;
}
