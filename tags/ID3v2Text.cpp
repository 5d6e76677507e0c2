#include "tags/ID3v2Text.h"

#include <string_view>
#include <utility>

namespace {

bool IsWide(uint8_t encoding) { return encoding == kID3Utf16Bom || encoding == kID3Utf16BE; }

// Decodes `n` bytes (no terminator) in `encoding`.
KwString DecodeRun(const uint8_t* p, size_t n, uint8_t encoding) {
    KwString out;
    switch (encoding) {
    case kID3Latin1:
        out.resize(n);
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<KwChar>(p[i]);
        break;
    case kID3Utf8:
        out = KwFromUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
        break;
    case kID3Utf16Bom:
    case kID3Utf16BE: {
        bool bigEndian = encoding == kID3Utf16BE;
        size_t i = 0;
        if (encoding == kID3Utf16Bom && n >= 2) {
            // A text without a byte-order mark is taken as little-endian.
            if (p[0] == 0xFF && p[1] == 0xFE) {
                i = 2;
            } else if (p[0] == 0xFE && p[1] == 0xFF) {
                bigEndian = true;
                i = 2;
            }
        }
        out.resize((n - i) / 2);  // an odd last byte is dropped
        KwChar* o = out.data();
        if (bigEndian) {
            for (; i + 1 < n; i += 2) *o++ = static_cast<KwChar>((p[i] << 8) | p[i + 1]);
        } else {
            for (; i + 1 < n; i += 2) *o++ = static_cast<KwChar>(p[i] | (p[i + 1] << 8));
        }
        break;
    }
    default:
        break;
    }
    return out;
}

}  // namespace

KwString ID3v2ReadText(const uint8_t* p, size_t& pos, size_t end, uint8_t encoding) {
    if (pos >= end) return {};
    if (encoding > kID3Utf8) {
        pos = end;
        return {};
    }
    const size_t start = pos;
    size_t stop = end;
    size_t terminator = 0;
    if (IsWide(encoding)) {
        for (size_t i = start; i + 1 < end; i += 2)
            if (p[i] == 0 && p[i + 1] == 0) {
                stop = i;
                terminator = 2;
                break;
            }
    } else {
        for (size_t i = start; i < end; ++i)
            if (p[i] == 0) {
                stop = i;
                terminator = 1;
                break;
            }
    }
    pos = stop + terminator;
    return DecodeRun(p + start, stop - start, encoding);
}

KwString ID3v2ReadTexts(const uint8_t* p, size_t& pos, size_t end, uint8_t encoding) {
    KwString joined;
    while (pos < end) {
        KwString text = ID3v2ReadText(p, pos, end, encoding);
        if (text.empty()) continue;
        if (joined.empty()) {
            joined = std::move(text);  // the usual single text: no copy
            continue;
        }
        joined.push_back(KW_T(';'));
        joined += text;
    }
    return joined;
}

KwString ID3v2ReadLatin1(const uint8_t* p, size_t& pos, size_t end) {
    return ID3v2ReadText(p, pos, end, kID3Latin1);
}

uint8_t ID3v2ChooseEncoding(KwStringView text) {
    for (KwChar c : text)
        if (static_cast<uint16_t>(c) >= 128) return kID3Utf16Bom;
    return kID3Latin1;
}

void ID3v2AppendText(std::vector<uint8_t>& out, KwStringView text, uint8_t encoding) {
    if (encoding == kID3Utf16Bom) {
        out.push_back(0xFF);
        out.push_back(0xFE);
        for (KwChar c : text) {
            const auto u = static_cast<uint16_t>(c);
            out.push_back(static_cast<uint8_t>(u & 0xFF));
            out.push_back(static_cast<uint8_t>(u >> 8));
        }
        out.push_back(0);
        out.push_back(0);
        return;
    }
    for (KwChar c : text) out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
}
