// Builders of ID3v2 tag bytes for the tag tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/SharedToolsHelper.h"
#include "tags/CID3v2Frame.h"
#include "tags/CID3v2Tag.h"

namespace id3test {

using Bytes = std::vector<uint8_t>;

inline Bytes Raw(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
// Encoding byte 0 followed by the text.
inline Bytes Latin1(std::string_view s) { return Cat({{0}, Raw(s)}); }

// One frame of version 3 or 4: 10-byte header and the data.
inline Bytes Frame(std::string_view id, const Bytes& data, int version = 3, uint16_t flags = 0) {
    Bytes out = Raw(id);
    const auto n = static_cast<uint32_t>(data.size());
    uint8_t size[4];
    if (version == 4)
        ID3v2WriteSynchsafe(size, n);
    else
        ID3v2WriteBigEndian(size, n);
    out.insert(out.end(), size, size + 4);
    out.push_back(uint8_t(flags & 0xFF));
    out.push_back(uint8_t(flags >> 8));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

inline Bytes Tag(int version, const std::vector<Bytes>& frames, uint8_t flags = 0, size_t padding = 0) {
    Bytes body;
    for (const Bytes& f : frames) body.insert(body.end(), f.begin(), f.end());
    body.resize(body.size() + padding, 0);
    Bytes out = {'I', 'D', '3', uint8_t(version), 0, flags, 0, 0, 0, 0};
    ID3v2WriteSynchsafe(out.data() + 6, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline IKwTools* Tools() { return CKwSharedToolsHelper::Instance().GetTools(); }

inline std::string Field(CID3v2Tag& tag, std::string_view name, const char* key = "Value") {
    KwPropertyMap fields;
    if (!tag.LookupField(KwFromUtf8(name), fields)) return "<absent>";
    return KwToUtf8(fields.GetString(KwFromUtf8(key)));
}

}  // namespace id3test
