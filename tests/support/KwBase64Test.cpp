#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/KwBase64.h"

namespace {

std::string Encode(std::string_view bytes) { return KwToUtf8(KwBase64Encode(bytes.data(), bytes.size())); }

std::string Repeat(const std::string& s, size_t n) {
    std::string out;
    while (n--) out += s;
    return out;
}

}  // namespace

// Line feeds before the groups after 64 characters; decoding takes them and CR LF.
TEST(KwBase64, EncodesAndDecodes) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"DSD64", "RFNENjQ="},
        {std::string("\xFB\xFF\x00", 3), "+/8A"},
        // 48 bytes fill one line exactly; the 17th group starts a new one.
        {std::string(48, 'A'), Repeat("QUFB", 16)}, {std::string(49, 'A'), Repeat("QUFB", 16) + "\nQQ=="},
    };
    std::vector<uint8_t> decoded;
    for (const auto& [bytes, text] : vectors) {
        EXPECT_EQ(Encode(bytes), text) << text;
        ASSERT_TRUE(KwBase64Decode(KwFromUtf8(text), decoded)) << text;
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), bytes);
    }
    EXPECT_TRUE(KwBase64Encode(nullptr, 5).empty());
    ASSERT_TRUE(KwBase64Decode(KwFromUtf8("Zm9v\r\nYmE="), decoded));
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), "fooba");
}

TEST(KwBase64, RejectsMalformedText) {
    std::vector<uint8_t> decoded{1, 2, 3};
    for (const char* bad : {"Zm9", "Zm9v!", "Z===", "=Zm9", "Zm=v", "Zg==Zg==", "Zg= =", "Zm9v Zm9v", "Zg=", "Zm9vY"}) {
        EXPECT_FALSE(KwBase64Decode(KwFromUtf8(bad), decoded)) << bad;
        EXPECT_TRUE(decoded.empty()) << bad;
    }
}

// Every length through several lines: the text decodes back, also with line
// breaks at other places than the encoder puts them.
TEST(KwBase64, RoundTripsEveryLength) {
    std::vector<uint8_t> bytes, decoded;
    for (size_t n = 0; n < 200; ++n) {
        const KwString text = KwBase64Encode(bytes.data(), bytes.size());
        EXPECT_EQ(KwBase64EncodedLength(n), text.size()) << n;
        ASSERT_TRUE(KwBase64Decode(text, decoded)) << n;
        EXPECT_EQ(decoded, bytes) << n;
        KwString broken;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == KW_T('\n')) continue;
            if (i % 7 == 3) broken += KW_T("\r\n");
            broken += text[i];
        }
        ASSERT_TRUE(KwBase64Decode(broken, decoded)) << n;
        EXPECT_EQ(decoded, bytes) << n;
        bytes.push_back(static_cast<uint8_t>(n * 37 + 11));
    }
}
