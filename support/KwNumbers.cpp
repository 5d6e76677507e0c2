#include "KwNumbers.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <limits>
#include <string>
#include <system_error>

namespace {

KwString Widen(const char* text, size_t length) {
    KwString out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) out.push_back(static_cast<KwChar>(static_cast<unsigned char>(text[i])));
    return out;
}

bool IsSpace(KwChar c) {
    return c == KW_T(' ') || c == KW_T('\t') || c == KW_T('\n') || c == KW_T('\r') || c == KW_T('\v') ||
           c == KW_T('\f');
}

bool IsDigit(KwChar c) { return c >= KW_T('0') && c <= KW_T('9'); }

int HexValue(KwChar c) {
    if (c >= KW_T('0') && c <= KW_T('9')) return c - KW_T('0');
    if (c >= KW_T('a') && c <= KW_T('f')) return c - KW_T('a') + 10;
    if (c >= KW_T('A') && c <= KW_T('F')) return c - KW_T('A') + 10;
    return -1;
}

// Fixed-point text of `value` with `decimals` places, "." as separator. The
// conversion is exact and correctly rounded and does not depend on the locale.
std::string FixedText(double value, int decimals) {
    decimals = std::clamp(decimals, 0, 100);
    // Largest double: 309 integer digits, plus sign, separator and the places.
    std::string buffer(320 + static_cast<size_t>(decimals), '\0');
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return "0";
    buffer.resize(static_cast<size_t>(result.ptr - buffer.data()));
    return buffer;
}

KwString WithSeparator(const std::string& text) {
    KwString out = Widen(text.data(), text.size());
    const KwChar separator = KwDecimalSeparator();
    if (separator != KW_T('.')) std::replace(out.begin(), out.end(), KW_T('.'), separator);
    return out;
}

}  // namespace

KwString KwFormatInt32(int32_t value) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(buffer, static_cast<size_t>(result.ptr - buffer));
}

KwString KwFormatInt64(int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(buffer, static_cast<size_t>(result.ptr - buffer));
}

int32_t KwParseInt32(KwStringView text) {
    constexpr int64_t kLimit = 2147483647;
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == KW_T('+') || text[i] == KW_T('-'))) {
        negative = text[i] == KW_T('-');
        ++i;
    }
    int64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        // Once past the limit further digits cannot bring it back.
        if (magnitude <= kLimit) magnitude = magnitude * 10 + (text[i] - KW_T('0'));
    }
    magnitude = std::min(magnitude, kLimit);
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

double KwParseDouble(KwStringView text) {
    // Copy the longest prefix that forms a number into plain ASCII with "." as
    // separator, then convert it without regard to the locale.
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == KW_T('+') || text[i] == KW_T('-'))) {
        negative = text[i] == KW_T('-');
        ++i;
    }
    std::string number;
    bool anyDigit = false;
    // Decimal position of the first significant digit (0 = units place); tells
    // overflow from underflow when the conversion is out of range.
    long long integerDigits = 0;   // significant digits before the separator
    long long fractionZeros = 0;   // zeros after the separator before the first significant digit
    bool significant = false;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        anyDigit = true;
        if (text[i] != KW_T('0')) significant = true;
        if (significant) ++integerDigits;
        number.push_back(static_cast<char>(text[i]));
    }
    if (i < text.size() && (text[i] == KW_T('.') || text[i] == KW_T(','))) {
        ++i;
        number.push_back('.');
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            anyDigit = true;
            if (!significant) {
                if (text[i] == KW_T('0'))
                    ++fractionZeros;
                else
                    significant = true;
            }
            number.push_back(static_cast<char>(text[i]));
        }
    }
    if (!anyDigit || !significant) return negative ? -0.0 : 0.0;
    if (number.front() == '.') number.insert(number.begin(), '0');
    long long exponent = 0;
    if (i < text.size() && (text[i] == KW_T('e') || text[i] == KW_T('E'))) {
        size_t j = i + 1;
        bool exponentNegative = false;
        if (j < text.size() && (text[j] == KW_T('+') || text[j] == KW_T('-'))) {
            exponentNegative = text[j] == KW_T('-');
            ++j;
        }
        // Beyond a million the value is out of range anyway.
        for (; j < text.size() && IsDigit(text[j]); ++j)
            if (exponent < 1000000) exponent = exponent * 10 + (text[j] - KW_T('0'));
        if (exponentNegative) exponent = -exponent;
    }
    if (exponent != 0) {
        number.push_back('e');
        number += std::to_string(exponent);
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        const long long leadPosition = (integerDigits > 0 ? integerDigits - 1 : -(fractionZeros + 1)) + exponent;
        value = leadPosition > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

KwString KwFormatDouble(double value, int maxDecimals) {
    std::string text = FixedText(value, maxDecimals);
    const size_t point = text.find('.');
    if (point != std::string::npos) {
        size_t end = text.find_last_not_of('0');
        if (end == point) --end;  // whole number: no separator
        text.resize(end + 1);
    }
    return WithSeparator(text);
}

KwString KwFormatDoubleFixed(double value, int decimals) { return WithSeparator(FixedText(value, decimals)); }

KwChar KwDecimalSeparator() {
    const std::lconv* conventions = std::localeconv();
    if (conventions && conventions->decimal_point) {
        const char* point = conventions->decimal_point;
        if ((point[0] == '.' || point[0] == ',') && point[1] == '\0') return static_cast<KwChar>(point[0]);
    }
    return KW_T('.');
}

KwString KwFormatPointer(uint64_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    KwString out(16, KW_T('0'));
    for (int i = 15; i >= 0; --i) {
        out[static_cast<size_t>(i)] = static_cast<KwChar>(kDigits[value & 0xF]);
        value >>= 4;
    }
    return out;
}

uint64_t KwParsePointer(KwStringView text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i + 1 < text.size() && text[i] == KW_T('0') && (text[i + 1] == KW_T('x') || text[i + 1] == KW_T('X')))
        i += 2;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0) break;
        if (value > (std::numeric_limits<uint64_t>::max() >> 4)) return std::numeric_limits<uint64_t>::max();
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return value;
}
