#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "support/KwNumbers.h"

namespace {

KwString T(std::string_view s) { return KwFromUtf8(s); }

// Switches LC_NUMERIC to the first installed locale whose decimal separator
// is a comma; returns false (and keeps "C") when there is none.
bool SwitchToCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"}) {
        if (std::setlocale(LC_NUMERIC, name) && KwDecimalSeparator() == KW_T(',')) return true;
    }
    std::setlocale(LC_NUMERIC, "C");
    return false;
}

}  // namespace

TEST(KwNumbers, FormatsAndParsesIntegers) {
    EXPECT_EQ(KwFormatInt64(std::numeric_limits<int64_t>::min()), T("-9223372036854775808"));
    // Leading blanks and sign, trailing junk ignored; saturation at +/-2147483647.
    const std::pair<const char*, int32_t> ints[] = {
        {"  \t+123abc", 123}, {"-17", -17}, {"", 0}, {"abc", 0}, {"-", 0}, {"+ 5", 0},
        {"2147483647", 2147483647}, {"2147483648", 2147483647}, {"-2147483648", -2147483647},
        {"99999999999999999999999999999", 2147483647}, {"-99999999999999999999999999999", -2147483647},
        {"0000000000000000000000000012", 12}};
    for (const auto& [text, value] : ints) EXPECT_EQ(KwParseInt32(T(text)), value) << text;
}

TEST(KwNumbers, ParsesDoublesWithEitherSeparator) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<std::string, double> cases[] = {
        {"1.5", 1.5}, {"1,5", 1.5}, {"1234,56789", 1234.56789}, {"  -0,25ms", -0.25}, {"+.5", 0.5}, {"7.", 7.0},
        {"1.5.3", 1.5}, {"1,5,3", 1.5}, {"2.5e3", 2500.0}, {"2,5E-1", 0.25}, {"3e", 3.0}, {"3e+x", 3.0},
        {"0.1", 0.1}, {"0x10", 0.0} /* no hexadecimal */, {"", 0}, {".", 0}, {",", 0}, {"-", 0}, {"abc", 0},
        {"e5", 0}, {"inf", 0}, {"nan", 0}, {"1e400", inf}, {"-1e99999999999", -inf}, {"1e-400", 0.0},
        {"0.000001e-99999999", 0.0}, {"0e99999", 0.0},
        {"1" + std::string(400, '0') + "e-400", 1.0}};  // a long digit string is still read exactly
    for (const auto& [text, value] : cases) EXPECT_EQ(KwParseDouble(T(text)), value) << text;
}

TEST(KwNumbers, FormatsDoublesWithAllSignificantDigits) {
    ASSERT_EQ(KwDecimalSeparator(), KW_T('.'));
    const std::pair<double, const char*> cases[] = {
        {0.0, "0"}, {180.0, "180"}, {-2.25, "-2.25"}, {0.1, "0.1"}, {1.0 / 3.0, "0.3333333333333333"},
        {2.0 / 3.0, "0.6666666666666666"},  // exact binary value ...6662965923251249478 rounds down
        {123.456, "123.4560000000000031"}, {1e-17, "0"}, {0.99999999999999999, "1"},
        {1e20, "100000000000000000000"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(KwFormatDouble(value), T(text)) << text;
    EXPECT_EQ(KwFormatDouble(3.14159, 2), T("3.14"));
    EXPECT_EQ(KwFormatDouble(2.5, 0), T("2"));  // halfway rounds to even
    EXPECT_EQ(KwFormatDouble(std::numeric_limits<double>::max()).size(), 309u);
    EXPECT_EQ(KwFormatDoubleFixed(-0.125, 2), T("-0.12"));
    EXPECT_EQ(KwFormatDoubleFixed(7.0, 0), T("7"));
}

// Formatting follows the locale's separator; parsing takes either.
TEST(KwNumbers, DecimalCommaLocale) {
    if (!SwitchToCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(KwParseDouble(T("1.5")), 1.5);
    EXPECT_EQ(KwParseDouble(T("1,5")), 1.5);
    EXPECT_EQ(KwFormatDouble(1.25), T("1,25"));
    EXPECT_EQ(KwFormatDouble(-3.0), T("-3"));
    EXPECT_EQ(KwFormatDoubleFixed(1.5, 2), T("1,50"));
    EXPECT_EQ(KwParseDouble(KwFormatDouble(1234.0625)), 1234.0625);
    std::setlocale(LC_NUMERIC, "C");
}

TEST(KwNumbers, PointerTextRoundTrips) {
    EXPECT_EQ(KwFormatPointer(0x00007FFDEADBEEF0ull), T("00007FFDEADBEEF0"));
    const std::pair<const char*, uint64_t> cases[] = {
        {"00007FFDEADBEEF0", 0x00007FFDEADBEEF0ull}, {"0x7ffdeadbeef0", 0x7FFDEADBEEF0ull},
        {"FFFFFFFFFFFFFFFF", UINT64_MAX}, {"1FFFFFFFFFFFFFFFF", UINT64_MAX} /* saturates */,
        {"12zz", 0x12u}, {"", 0u}, {"0x", 0u}};
    for (const auto& [text, value] : cases) EXPECT_EQ(KwParsePointer(T(text)), value) << text;
    for (uint64_t v : {1ull, 0x123456789ABCDEFull, ~0ull}) EXPECT_EQ(KwParsePointer(KwFormatPointer(v)), v);
}
