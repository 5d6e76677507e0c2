#include "host/tools/KwToolsImpl.h"

namespace {

constexpr uint32_t kCompareIgnoreCase = 1;
constexpr uint32_t kCompareDigitsAsNumbers = 512;

bool IsDigit(KwChar c) { return c >= KW_T('0') && c <= KW_T('9'); }

int Sign(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

// Texts are compared unit by unit (folded to lower case with flag 1). With
// flag 512 a run of ASCII digits in both texts at the same place compares as
// a number of any length: leading zeros aside, the longer run is the larger,
// runs of equal length compare digit by digit. Texts that differ only in the
// leading zeros of a number are ordered by the first such difference.
int32_t KwTextServices::Compare(const KwChar* a, const KwChar* b, uint32_t flags, bool) {
    const KwChar empty = 0;
    if (!a) a = &empty;
    if (!b) b = &empty;
    const bool ignoreCase = flags & kCompareIgnoreCase;
    const bool numbers = flags & kCompareDigitsAsNumbers;
    int tieBreak = 0;
    size_t i = 0, j = 0;
    while (a[i] && b[j]) {
        if (numbers && IsDigit(a[i]) && IsDigit(b[j])) {
            size_t zerosA = 0, zerosB = 0;
            while (a[i] == KW_T('0')) ++i, ++zerosA;
            while (b[j] == KW_T('0')) ++j, ++zerosB;
            size_t lenA = 0, lenB = 0;
            while (IsDigit(a[i + lenA])) ++lenA;
            while (IsDigit(b[j + lenB])) ++lenB;
            if (lenA != lenB) return lenA < lenB ? -1 : 1;
            for (size_t k = 0; k < lenA; ++k)
                if (a[i + k] != b[j + k]) return a[i + k] < b[j + k] ? -1 : 1;
            if (!tieBreak && zerosA != zerosB) tieBreak = zerosA < zerosB ? -1 : 1;
            i += lenA;
            j += lenB;
            continue;
        }
        const KwChar ca = ignoreCase ? KwFoldCase(a[i]) : a[i];
        const KwChar cb = ignoreCase ? KwFoldCase(b[j]) : b[j];
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (a[i] || b[j]) return a[i] ? 1 : -1;
    return Sign(tieBreak);
}
