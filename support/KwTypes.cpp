#include "KwTypes.h"

#include <bit>
#include <cstring>

KwString KwFromUtf8(std::string_view s) {
    // The leading ASCII run is copied in one pass; the rest decoded.
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
    KwString out(i, KW_T('\0'));
    for (size_t k = 0; k < i; ++k) out[k] = static_cast<KwChar>(s[k]);
    if (i == s.size()) return out;
    out.reserve(s.size());
    const size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        } else {
            len = 0;  // stray continuation or invalid lead byte
        }
        if (len > 1) {
            bool ok = i + len <= n;
            uint32_t v = c & (0xFF >> (len + 1));
            for (size_t k = 1; ok && k < len; ++k) {
                const auto cc = static_cast<unsigned char>(s[i + k]);
                if ((cc & 0xC0) != 0x80) ok = false;
                v = (v << 6) | (cc & 0x3F);
            }
            static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && v >= minimum[len] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                cp = v;
            } else {
                len = 1;
            }
        } else if (len == 0) {
            len = 1;
        }
        i += len;
        KwAppendCodePoint(out, cp);
    }
    return out;
}

void KwAppendCodePoint(KwString& out, uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<KwChar>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<KwChar>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<KwChar>(cp));
    }
}

std::string KwToUtf8(KwStringView s) {
    std::string out;
    KwAppendUtf8(out, s);
    return out;
}

void KwAppendUtf8(std::string& out, KwStringView s) {
    // At most three bytes per unit (a surrogate pair, two units, gives four).
    const size_t start = out.size();
    out.resize(start + s.size() * 3);
    char* o = out.data() + start;
    for (size_t i = 0; i < s.size(); ++i) {
        // Texts are mostly plain ASCII: four units at a time while they are.
        if (i + 4 <= s.size()) {
            uint64_t units;
            std::memcpy(&units, s.data() + i, sizeof(units));
            if (!(units & 0xFF80FF80FF80FF80ull)) {
                static_assert(std::endian::native == std::endian::little);
                const auto bytes = static_cast<uint32_t>((units & 0xFF) | ((units >> 8) & 0xFF00) |
                                                         ((units >> 16) & 0xFF0000) | ((units >> 24) & 0xFF000000));
                std::memcpy(o, &bytes, sizeof(bytes));
                o += 4;
                i += 3;
                continue;
            }
        }
        uint32_t cp = static_cast<uint16_t>(s[i]);
        if (cp < 0x80) {
            *o++ = static_cast<char>(cp);
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size()) {
            const uint32_t lo = static_cast<uint16_t>(s[i + 1]);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x800) {
            *o++ = static_cast<char>(0xC0 | (cp >> 6));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *o++ = static_cast<char>(0xE0 | (cp >> 12));
            *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *o++ = static_cast<char>(0xF0 | (cp >> 18));
            *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
}

KwChar KwFoldCaseWide(KwChar ch) {
    const auto c = static_cast<uint16_t>(ch);
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<KwChar>(c + 32) : ch;
    // Latin-1 capitals (except the multiplication sign).
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<KwChar>(c + 32);
    // Latin Extended-A: capitals on even code points, small letters on odd ones,
    // except for the stretch 0x139..0x148 and 0x179..0x17E which are shifted by one.
    if (c == 0x130) return KW_T('i');  // capital I with dot above
    if (c >= 0x100 && c <= 0x137 && c != 0x131) return static_cast<KwChar>(c | 1);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? static_cast<KwChar>(c + 1) : ch;
    if (c >= 0x14A && c <= 0x177) return static_cast<KwChar>(c | 1);
    if (c == 0x178) return static_cast<KwChar>(0xFF);
    // Greek and Cyrillic capitals.
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<KwChar>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<KwChar>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<KwChar>(c + 80);
    // Full-width Latin capitals.
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<KwChar>(c + 32);
    return ch;
}

bool KwEqualsNoCase(KwStringView a, KwStringView b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && KwFoldCase(a[i]) != KwFoldCase(b[i])) return false;
    return true;
}

bool KwStartsWithNoCase(KwStringView s, KwStringView prefix) {
    return s.size() >= prefix.size() && KwEqualsNoCase(s.substr(0, prefix.size()), prefix);
}
