// Basic types shared by the plug-in, the reference host and the tools.
//
// Every text that crosses the host boundary is UTF-16. On Windows the unit is
// wchar_t (what the host's compiler uses); elsewhere it is char16_t, so that the
// same bytes travel on both platforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#if defined(_WIN32)
using KwChar = wchar_t;
#define KW_T(s) L##s
#else
using KwChar = char16_t;
#define KW_T(s) u##s
#endif

static_assert(sizeof(KwChar) == 2, "texts at the host boundary are UTF-16");

// The support library's wide string.
using KwString = std::basic_string<KwChar>;
using KwStringView = std::basic_string_view<KwChar>;

// Opaque handle of a loaded module (HMODULE on Windows, dlopen handle elsewhere).
using KwModuleHandle = void*;

// Length of a NUL-terminated wide text (0 for null).
inline size_t KwStrLen(const KwChar* s) {
    if (!s) return 0;
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

// Appends one Unicode code point (at most 0x10FFFF) as UTF-16.
void KwAppendCodePoint(KwString& out, uint32_t codePoint);

// UTF-8 <-> UTF-16 conversion. Invalid sequences become U+FFFD.
KwString KwFromUtf8(std::string_view s);
std::string KwToUtf8(KwStringView s);
// The UTF-8 of `s` appended to `out`.
void KwAppendUtf8(std::string& out, KwStringView s);

// Simple case folding of one UTF-16 unit (Latin-1 and the common BMP blocks).
// Plain ASCII, by far the most common case in keys and field names, is folded
// inline; the rest goes to KwFoldCaseWide.
KwChar KwFoldCaseWide(KwChar c);
inline KwChar KwFoldCase(KwChar c) {
    const auto u = static_cast<uint16_t>(c);
    if (u < 0x80) return (u >= 'A' && u <= 'Z') ? static_cast<KwChar>(u + 32) : c;
    return KwFoldCaseWide(c);
}
// Case-insensitive comparison of two texts (unit by unit, folded).
bool KwEqualsNoCase(KwStringView a, KwStringView b);
// True when `s` begins with `prefix`, compared without regard to case.
bool KwStartsWithNoCase(KwStringView s, KwStringView prefix);
