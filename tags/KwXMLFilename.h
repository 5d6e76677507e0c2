// KwXMLFilename: a file name with its items (for instance the file type the
// host determined, or the track of a disc image), and the XMLFN text form in
// which such a name travels between the host, its reader library and the
// plug-in:
//
//   <XMLFN version="1.0"><Item Name="Filename">path</Item><Item Name="Key">value</Item></XMLFN>
//
// A name without items is written as the bare path.
#pragma once

#include "support/KwTypes.h"
#include "tags/KwPropertyMap.h"

class KwXMLFilename {
public:
    // Stores the text (none gives an empty name) and parses it without
    // clearing the (empty) items.
    explicit KwXMLFilename(const KwChar* text = nullptr);
    explicit KwXMLFilename(KwStringView text);
    KwXMLFilename(const KwXMLFilename& other);
    KwXMLFilename& operator=(const KwXMLFilename& other);
    // Starts over with `text`, as a new object made from it would.
    void Assign(KwStringView text);

    // Reads the stored file name as an XMLFN text or a plain path (a plain
    // path may end in ";" and a track suffix, which becomes the item
    // "PostExtensionData"). With `clear` the items are emptied first.
    void Parse(bool clear);
    // The XMLFN text, or the bare file name when there are no items.
    KwString ToText() const;
    // Copies file name, items and flag.
    void Copy(const KwXMLFilename& other);

    const KwString& FileName() const { return fileName_; }
    void SetFileName(KwStringView name) { fileName_.assign(name); }
    KwPropertyMap& Items() { return items_; }
    const KwPropertyMap& Items() const { return items_; }
    // The item's value, or the empty text.
    KwString Item(KwStringView key) const { return items_.GetString(key); }
    // True when ToText(), called right after the constructor or Assign, gives
    // back exactly the text parsed: its holder may pass that text on instead
    // of having it rebuilt. Usual for plain paths and for the written form
    // with one item besides the file name; false after any other parse.
    bool ParsedVerbatim() const { return verbatim_; }
    bool Flag() const { return flag_; }
    void SetFlag(bool flag) { flag_ = flag; }

    // What FileName() of an object made from `text` gives, without keeping
    // the items.
    static KwString FileNameOf(KwStringView text);

    // Takes the file name and items of an XMLFN text through the general XML
    // reader (what Parse falls back to for texts other than the written form).
    void ReadWithXmlReader(KwStringView text);

private:
    void ParseXml();
    // Reads the XMLFN text exactly as ToText writes it for plain names and
    // values (no references, no control characters); false when the text is
    // anything else, which the general XML reader then takes.
    bool ParseWrittenForm(KwStringView text, bool keepItems = true);
    void ParsePlain();

    KwString fileName_;
    KwPropertyMap items_;
    bool flag_ = true;
    bool verbatim_ = false;
};
