// File-name texts: parse arbitrary input as a plain path or XMLFN text, render
// it back and parse again. A record with items renders as XMLFN text, which
// must give back exactly the same name and items. An XMLFN text must read as
// the XML reader reads it, whether or not the record takes its direct path.
// The file name alone, and a text the record calls verbatim, must agree with
// the whole record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "tags/KwXMLFilename.h"

using fuzz::HasUnpairedSurrogate;

namespace {

// First byte odd: the rest is UTF-8; even: raw UTF-16 units. Texts reach the
// record as zero-terminated strings, so the first zero unit ends the text.
KwString TextFrom(const uint8_t* data, size_t size) {
    if (size == 0) return KwString();
    KwString text;
    if (data[0] & 1) {
        text = KwFromUtf8(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    } else {
        for (size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<KwChar>(data[i] | (data[i + 1] << 8)));
    }
    const size_t zero = text.find(KwChar(0));
    if (zero != KwString::npos) text.resize(zero);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const KwString text = TextFrom(data, size);
    KwXMLFilename first(text);
    if (KwStartsWithNoCase(text, KW_T("<XMLFN version="))) {
        KwXMLFilename reference(KW_T(""));
        reference.ReadWithXmlReader(text);
        if (reference.FileName() != first.FileName() || !reference.Items().Equals(first.Items())) std::abort();
    }
    // A record that says its text comes back unchanged is taken at its word
    // by the plug-in; the reader library takes the file name alone.
    if (KwXMLFilename::FileNameOf(text) != first.FileName()) std::abort();
    const KwString rendered = first.ToText();
    if (first.ParsedVerbatim() && rendered != text) std::abort();
    KwXMLFilename second(rendered);
    (void)second.ToText();
    KwXMLFilename copy(KW_T("x"));
    copy = second;

    if (!first.Items().IsEmpty()) {
        bool representable = !HasUnpairedSurrogate(first.FileName());
        first.Items().ForEach([&](const KwString& key, const KwString& value) {
            if (HasUnpairedSurrogate(key) || HasUnpairedSurrogate(value)) representable = false;
        });
        if (representable &&
            (second.FileName() != first.FileName() || !second.Items().Equals(first.Items()) ||
             !copy.Items().Equals(first.Items())))
            std::abort();
    }
    return 0;
}
