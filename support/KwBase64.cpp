#include "KwBase64.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Characters on one line before a line feed is written.
constexpr size_t kLineLength = 64;

int DecodeChar(KwChar c) {
    if (c >= KW_T('A') && c <= KW_T('Z')) return c - KW_T('A');
    if (c >= KW_T('a') && c <= KW_T('z')) return c - KW_T('a') + 26;
    if (c >= KW_T('0') && c <= KW_T('9')) return c - KW_T('0') + 52;
    if (c == KW_T('+')) return 62;
    if (c == KW_T('/')) return 63;
    return -1;
}

}  // namespace

KwString KwBase64Encode(const void* data, size_t size) {
    KwString out;
    if (!data || size == 0) return out;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const size_t groups = size / 3 + (size % 3 != 0);
    out.reserve(groups * 4 + groups / (kLineLength / 4));
    size_t onLine = 0;
    for (size_t i = 0; i < size; i += 3) {
        if (onLine == kLineLength) {
            out.push_back(KW_T('\n'));
            onLine = 0;
        }
        const size_t left = size - i;
        const uint32_t b0 = bytes[i];
        const uint32_t b1 = left > 1 ? bytes[i + 1] : 0;
        const uint32_t b2 = left > 2 ? bytes[i + 2] : 0;
        const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
        out.push_back(static_cast<KwChar>(kAlphabet[(triple >> 18) & 0x3F]));
        out.push_back(static_cast<KwChar>(kAlphabet[(triple >> 12) & 0x3F]));
        out.push_back(left > 1 ? static_cast<KwChar>(kAlphabet[(triple >> 6) & 0x3F]) : KW_T('='));
        out.push_back(left > 2 ? static_cast<KwChar>(kAlphabet[triple & 0x3F]) : KW_T('='));
        onLine += 4;
    }
    return out;
}

namespace {

bool DecodeInto(KwStringView text, std::vector<uint8_t>& out) {
    uint32_t group = 0;   // collected 6-bit values of the current group
    int count = 0;        // characters in the current group, padding included
    int padding = 0;      // '=' seen in the current group
    bool finished = false;  // a padded group ended the data
    for (const KwChar c : text) {
        if (c == KW_T('\n') || c == KW_T('\r')) continue;
        if (finished) return false;
        if (c == KW_T('=')) {
            // Padding may only fill the third and fourth place of a group.
            if (count < 2) return false;
            ++padding;
        } else {
            const int value = DecodeChar(c);
            if (value < 0 || padding > 0) return false;
            group = (group << 6) | static_cast<uint32_t>(value);
        }
        if (++count < 4) continue;
        group <<= 6 * padding;
        out.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2) out.push_back(static_cast<uint8_t>(group >> 8));
        if (padding < 1) out.push_back(static_cast<uint8_t>(group));
        finished = padding > 0;
        group = 0;
        count = 0;
        padding = 0;
    }
    return count == 0;
}

}  // namespace

bool KwBase64Decode(KwStringView text, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(text.size() / 4 * 3);
    if (DecodeInto(text, out)) return true;
    out.clear();
    return false;
}
