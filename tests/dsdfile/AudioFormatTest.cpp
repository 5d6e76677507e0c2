#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dsdfile/CAudioFormat.h"

namespace {

std::vector<uint32_t> Speakers(const CAudioFormat& format) {
    std::vector<uint32_t> ids;
    for (int slot = 0; slot < kAudioFormatMaxChannels; ++slot)
        if (format.Channel(slot).present) ids.push_back(format.Channel(slot).speaker);
    return ids;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

TEST(AudioFormat, ChannelTableLayoutsAndMasks) {
    CAudioFormat format;
    const struct {
        uint16_t count;
        uint32_t mask;
        std::vector<uint32_t> speakers;
    } layouts[] = {{0, 0, {}},          {1, 0, {1}},          {2, 0, {2, 3}},
                   {3, 0, {2, 3, 5}},   {4, 0x0F, {2, 3, 4, 5}}, {4, 0, {2, 3, 6, 7}},
                   {5, 0, {2, 3, 4, 6, 7}}, {6, 0, {2, 3, 4, 5, 6, 7}}, {7, 0x70F, {2, 3, 4, 5, 10, 6, 7}},
                   {7, 0, {2, 3, 4, 5, 6, 7, 10}}, {8, 0, {2, 3, 4, 5, 8, 9, 6, 7}}};
    for (const auto& l : layouts) {
        format.SetUp(1, 2822400, l.count, l.mask, false, kGuidNull);
        EXPECT_EQ(Speakers(format), l.speakers) << l.count << " " << l.mask;
        // The low-frequency speaker (5) in slot 3 gets level 10.
        if (l.count >= 4) {
            EXPECT_EQ(format.Channel(3).level, l.speakers[3] == 5 ? 10.0f : 0.0f) << l.count;
        }
    }
    format.SetUp(1, 2822400, 64, 0, false, kGuidNull);
    EXPECT_EQ(format.Channel(8).speaker, 13u);
    EXPECT_EQ(format.Channel(31).speaker, 36u);
    EXPECT_EQ(format.Channel(63).speaker, 0u);
    EXPECT_EQ(format.Channel(63).present, 1);
    format.SetUp(1, 2822400, 100, 0, false, kGuidNull);  // beyond the table: all 64 slots and no more
    EXPECT_EQ(Speakers(format).size(), 64u);

    // SetChannelCount rebuilds the table only on a change of count, not from
    // the new mask; an extensible record keeps its state.
    format.SetUp(1, 2822400, 2, 0, true, kGuidDsdMsbFirst);
    format.SetChannelCount(9);
    EXPECT_EQ(format.ChannelMask(), 0x3FFFFu);
    format.SetChannelCount(4);
    EXPECT_EQ(format.ChannelMask(), 0x33u);
    EXPECT_EQ(Speakers(format), (std::vector<uint32_t>{2, 3, 6, 7}));
    EXPECT_EQ(format.FormatTag(), kFormatTagExtensible);
}

TEST(AudioFormat, ByteLayoutIsTheExternalRecord) {
    CAudioFormat format;
    format.SetUp(8, 352800, 6, 0, true, kGuidDsdLsbFirst);
    const uint8_t* b = format.Bytes();
    const uint32_t header[] = {0xFFFE | 6 << 16, 352800, 352800 * 6, 6 | 8 << 16, 22 | 8 << 16};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Le32(b + 4 * i), header[i]) << i;
    const uint8_t guid[16] = {0xEF, 0x0A, 0xCF, 0x34, 0x1B, 0x4A, 0x27, 0x49,
                              0x97, 0x9D, 0xDE, 0x4D, 0x41, 0x71, 0xA6, 0xB1};
    EXPECT_EQ(std::memcmp(b + 24, guid, 16), 0);
    // Slot 3: low frequency, present, level 10.0; the rest of the entry is zero.
    const uint8_t* entry = b + 40 + 3 * 44;
    EXPECT_EQ(Le32(entry), 5u);
    EXPECT_EQ(entry[4], 1);
    float level;
    std::memcpy(&level, entry + 8, 4);
    EXPECT_EQ(level, 10.0f);
    for (int i = 12; i < 44; ++i) EXPECT_EQ(entry[i], 0);
    for (int i = 40 + 6 * 44; i < 2856; ++i) ASSERT_EQ(b[i], 0) << i;
    EXPECT_EQ(Le32(b + 2856), kAudioFormatIntegerSamples);
}

}  // namespace
