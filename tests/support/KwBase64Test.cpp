#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/KwBase64.h"

namespace {

KwString T(std::string_view s) { return KwFromUtf8(s); }

std::string Encode(std::string_view bytes) { return KwToUtf8(KwBase64Encode(bytes.data(), bytes.size())); }

}  // namespace

TEST(KwBase64, EncodesKnownVectors) {
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("f"), "Zg==");
    EXPECT_EQ(Encode("fo"), "Zm8=");
    EXPECT_EQ(Encode("foo"), "Zm9v");
    EXPECT_EQ(Encode("DSD64"), "RFNENjQ=");
    EXPECT_EQ(Encode("hello!"), "aGVsbG8h");
    EXPECT_EQ(Encode(std::string("\xFB\xFF\x00", 3)), "+/8A");
    EXPECT_TRUE(KwBase64Encode(nullptr, 5).empty());
}

TEST(KwBase64, BreaksLinesBeforeGroupsAfter64Characters) {
    // 48 bytes fill exactly one line: no line feed at the end.
    const std::vector<uint8_t> line(48, 0x41);
    const KwString one = KwBase64Encode(line.data(), line.size());
    EXPECT_EQ(one.size(), 64u);
    EXPECT_EQ(one.find(KW_T('\n')), KwString::npos);

    // 49 bytes: the 17th group starts a new line.
    const std::vector<uint8_t> more(49, 0x41);
    const KwString two = KwBase64Encode(more.data(), more.size());
    EXPECT_EQ(two.size(), 64u + 1u + 4u);
    EXPECT_EQ(two[64], KW_T('\n'));

    // 100 bytes: lines of 64, 64 and 8 characters (the 2860-byte format record
    // is checked end to end).
    const std::vector<uint8_t> three(100, 0x41);
    const KwString t = KwBase64Encode(three.data(), three.size());
    EXPECT_EQ(t.size(), 136u + 2u);
    EXPECT_EQ(t[64], KW_T('\n'));
    EXPECT_EQ(t[129], KW_T('\n'));
}

TEST(KwBase64, DecodesAndRoundTripsEveryLength) {
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(KwBase64Decode(T("Zm9v\r\nYmE="), decoded));
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), "fooba");
    ASSERT_TRUE(KwBase64Decode(T(""), decoded));
    EXPECT_TRUE(decoded.empty());
    for (size_t n = 0; n < 200; ++n) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(255 - i * 13);
        ASSERT_TRUE(KwBase64Decode(KwBase64Encode(bytes.data(), bytes.size()), decoded)) << n;
        EXPECT_EQ(decoded, bytes) << n;
    }
}

TEST(KwBase64, RejectsMalformedText) {
    std::vector<uint8_t> decoded{1, 2, 3};
    for (const char* bad : {"Zm9", "Zm9v!", "Z===", "=Zm9", "Zm=v", "Zg==Zg==", "Zg= =", "Zm9v Zm9v", "Zg=", "Zm9vY"}) {
        EXPECT_FALSE(KwBase64Decode(T(bad), decoded)) << bad;
        EXPECT_TRUE(decoded.empty()) << bad;
    }
}
