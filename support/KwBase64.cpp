#include "KwBase64.h"

#include <array>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Characters on one line before a line feed is written.
constexpr size_t kLineLength = 64;
constexpr size_t kGroupsPerLine = kLineLength / 4;

// 6-bit value of each character below 128; -1 for characters outside the alphabet.
constexpr std::array<int8_t, 128> kDecode = [] {
    std::array<int8_t, 128> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}();

// Two characters for each 12-bit value, so that a group of three bytes takes
// two lookups.
struct PairTable {
    KwChar pair[4096][2];
};
const PairTable& Pairs() {
    static const PairTable table = [] {
        PairTable t{};
        for (int v = 0; v < 4096; ++v) {
            t.pair[v][0] = static_cast<KwChar>(kAlphabet[v >> 6]);
            t.pair[v][1] = static_cast<KwChar>(kAlphabet[v & 0x3F]);
        }
        return t;
    }();
    return table;
}

int DecodeChar(KwChar c) {
    const auto u = static_cast<uint16_t>(c);
    return u < 128 ? kDecode[u] : -1;
}

}  // namespace

size_t KwBase64EncodedLength(size_t size) {
    if (size == 0) return 0;
    const size_t groups = size / 3 + (size % 3 != 0);
    // A line feed stands before every group that starts a new full line.
    return groups * 4 + (groups - 1) / kGroupsPerLine;
}

KwString KwBase64Encode(const void* data, size_t size) {
    KwString out;
    if (!data || size == 0) return out;
    const auto* bytes = static_cast<const uint8_t*>(data);
    out.resize(KwBase64EncodedLength(size));
    KwChar* o = out.data();
    const PairTable& pairs = Pairs();
    size_t onLine = 0;
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        if (onLine == kGroupsPerLine) {
            *o++ = KW_T('\n');
            onLine = 0;
        }
        const uint32_t triple = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        std::memcpy(o, pairs.pair[triple >> 12], sizeof(pairs.pair[0]));
        std::memcpy(o + 2, pairs.pair[triple & 0xFFF], sizeof(pairs.pair[0]));
        o += 4;
        ++onLine;
    }
    if (i < size) {
        if (onLine == kGroupsPerLine) *o++ = KW_T('\n');
        const bool two = size - i > 1;
        const uint32_t triple = (uint32_t{bytes[i]} << 16) | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
        o[0] = static_cast<KwChar>(kAlphabet[triple >> 18]);
        o[1] = static_cast<KwChar>(kAlphabet[(triple >> 12) & 0x3F]);
        o[2] = two ? static_cast<KwChar>(kAlphabet[(triple >> 6) & 0x3F]) : KW_T('=');
        o[3] = KW_T('=');
    }
    return out;
}

namespace {

// Decodes into `out` (sized for the worst case); returns the bytes written,
// or -1 when the text is not Base64.
ptrdiff_t DecodeInto(KwStringView text, uint8_t* out) {
    uint8_t* const begin = out;
    const KwChar* p = text.data();
    const KwChar* const end = p + text.size();
    // Whole groups of four alphabet characters: the common case, without
    // line breaks or padding inside.
    while (end - p >= 4) {
        const int a = DecodeChar(p[0]), b = DecodeChar(p[1]), c = DecodeChar(p[2]), d = DecodeChar(p[3]);
        if ((a | b | c | d) < 0) {
            if (*p == KW_T('\n') || *p == KW_T('\r')) {
                ++p;
                continue;
            }
            break;  // padding, a line break inside a group, or a bad character
        }
        const uint32_t group = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | uint32_t(d);
        out[0] = static_cast<uint8_t>(group >> 16);
        out[1] = static_cast<uint8_t>(group >> 8);
        out[2] = static_cast<uint8_t>(group);
        out += 3;
        p += 4;
    }
    // The rest, character by character.
    uint32_t group = 0;     // collected 6-bit values of the current group
    int count = 0;          // characters in the current group, padding included
    int padding = 0;        // '=' seen in the current group
    bool finished = false;  // a padded group ended the data
    for (; p < end; ++p) {
        const KwChar ch = *p;
        if (ch == KW_T('\n') || ch == KW_T('\r')) continue;
        if (finished) return -1;
        if (ch == KW_T('=')) {
            // Padding may only fill the third and fourth place of a group.
            if (count < 2) return -1;
            ++padding;
        } else {
            const int value = DecodeChar(ch);
            if (value < 0 || padding > 0) return -1;
            group = (group << 6) | static_cast<uint32_t>(value);
        }
        if (++count < 4) continue;
        group <<= 6 * padding;
        *out++ = static_cast<uint8_t>(group >> 16);
        if (padding < 2) *out++ = static_cast<uint8_t>(group >> 8);
        if (padding < 1) *out++ = static_cast<uint8_t>(group);
        finished = padding > 0;
        group = 0;
        count = 0;
        padding = 0;
    }
    return count == 0 ? out - begin : -1;
}

}  // namespace

bool KwBase64Decode(KwStringView text, std::vector<uint8_t>& out) {
    // Every four characters give at most three bytes.
    out.resize(text.size() / 4 * 3 + 3);
    const ptrdiff_t written = DecodeInto(text, out.data());
    if (written >= 0) {
        out.resize(static_cast<size_t>(written));
        return true;
    }
    out.clear();
    return false;
}
