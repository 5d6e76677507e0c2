#include "tags/KwPropertyMap.h"

#include "support/KwNumbers.h"

KwPropertyMap::~KwPropertyMap() = default;

bool KwPropertyMap::Exists(KwStringView key) const { return Find(key) != nullptr; }

KwString KwPropertyMap::GetString(KwStringView key, const KwChar* defaultValue) const {
    if (const KwString* value = Find(key)) return *value;
    return defaultValue ? KwString(defaultValue) : KwString();
}

// The numeric getters read the default the same way as a stored value: it is
// formatted, and the text is read back when the key is absent.
int32_t KwPropertyMap::GetInt(KwStringView key, int32_t defaultValue) const {
    const KwString* value = Find(key);
    return KwParseInt32(value ? *value : KwFormatInt32(defaultValue));
}

double KwPropertyMap::GetDouble(KwStringView key, double defaultValue) const {
    const KwString* value = Find(key);
    return KwParseDouble(value ? *value : KwFormatDouble(defaultValue));
}

uint64_t KwPropertyMap::GetPointer(KwStringView key, uint64_t defaultValue) const {
    const KwString* value = Find(key);
    return KwParsePointer(value ? *value : KwFormatPointer(defaultValue));
}

void KwPropertyMap::SetString(KwStringView key, KwStringView value, bool removeIfEmpty) {
    if (removeIfEmpty && value.empty()) {
        Remove(key);
        return;
    }
    if (!map_) map_.emplace();
    map_->Set(key, value);
}

void KwPropertyMap::SetInt(KwStringView key, int32_t value) { SetString(key, KwFormatInt32(value)); }

void KwPropertyMap::SetPointer(KwStringView key, uint64_t value) { SetString(key, KwFormatPointer(value)); }

void KwPropertyMap::SetDouble(KwStringView key, double value) { SetString(key, KwFormatDouble(value, 16)); }

void KwPropertyMap::Clear() { map_.reset(); }

void KwPropertyMap::Remove(KwStringView key) {
    if (!map_) return;
    map_->Remove(key);
    if (map_->Count() == 0) map_.reset();
}

bool KwPropertyMap::Assign(const KwPropertyMap& other) {
    if (&other == this) return true;
    Clear();
    other.ForEach([this](const KwString& key, const KwString& value) { SetString(key, value); });
    return true;
}

bool KwPropertyMap::Equals(const KwPropertyMap& other) const {
    if (Count() != other.Count()) return false;
    bool equal = true;
    ForEach([&](const KwString& key, const KwString& value) {
        const KwString* theirs = other.Find(key);
        if (!theirs || *theirs != value) equal = false;
    });
    return equal;
}

void KwPropertyMap::Save(KwArchive& archive, bool store) const {
    if (!store || IsEmpty()) {
        archive.WriteInt32(0);
        return;
    }
    archive.WriteInt32(static_cast<int32_t>(Count()));
    ForEach([&archive](const KwString& key, const KwString& value) {
        archive.WriteString(key);
        archive.WriteString(value);
    });
}

bool KwPropertyMap::Load(const KwArchive& archive, size_t& position) {
    Clear();
    size_t p = position;
    int32_t count = 0;
    if (!archive.ReadInt32(p, count) || count < 0) return false;
    // Every pair takes at least two length words; a larger count is damage.
    if (static_cast<size_t>(count) > (archive.Size() - p) / 8) return false;
    KwString key;
    KwString value;
    for (int32_t i = 0; i < count; ++i) {
        if (!archive.ReadString(p, key) || !archive.ReadString(p, value)) {
            Clear();
            return false;
        }
        SetString(key, value);
    }
    position = p;
    return true;
}

bool KwPropertyMap::LoadFromStart(const KwArchive& archive) {
    size_t position = 0;
    return Load(archive, position);
}

KwString KwPropertyMap::ToXML(KwStringView elementName, bool skipIfEmpty, double version) const {
    if (skipIfEmpty && IsEmpty()) return KwString();
    KwXmlWriter writer;
    writer.StartElement(elementName);
    writer.Raw(KW_T(" version=\""));
    writer.Raw(KwFormatDoubleFixed(version, 1));
    writer.Raw(KW_T("\">\r\n"));
    WriteXMLItems(writer);
    writer.EndElement(elementName);
    return writer.Take();
}

bool KwPropertyMap::FromXML(KwStringView xml, KwStringView elementName) {
    KwXmlElement root;
    if (!KwXmlParse(xml, root)) return false;
    const KwXmlElement* element = root.Find(elementName);
    if (!element) return false;
    // Every version written so far carries the same items, so the version
    // number does not change how they are read.
    ReadXMLItems(*element);
    return true;
}

void KwPropertyMap::WriteXMLItems(KwXmlWriter& writer) const {
    ForEach([&writer](const KwString& key, const KwString& value) {
        writer.StartElement(KW_T("Item"));
        writer.Attribute(KW_T("Name"), key);
        writer.EndStartTag();
        writer.Text(value);
        writer.EndElement(KW_T("Item"));
        writer.Raw(KW_T("\r\n"));
    });
}

void KwPropertyMap::ReadXMLItems(const KwXmlElement& outer) {
    Clear();
    for (const KwXmlElement& child : outer.children) {
        if (child.name != KW_T("Item")) continue;
        const KwString* name = child.Attribute(KW_T("Name"));
        SetString(name ? *name : KwString(), child.text);
    }
}

KwString KwPropertyMap::ToText(KwStringView prefix, KwStringView suffix) const {
    KwString out;
    ForEach([&](const KwString& key, const KwString& value) {
        out.append(prefix);
        out += key;
        out += KW_T(": ");
        out += value;
        out.append(suffix);
    });
    return out;
}
