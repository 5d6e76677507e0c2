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

}  // namespace

TEST(AudioFormat, StoredBitsFloatDecisionAndFormatTag) {
    CAudioFormat format;
    format.SetUp(12, 48000, 2, 0, false, kGuidNull);
    EXPECT_EQ(format.BitsPerSample(), 16);
    EXPECT_EQ(format.ValidBitsPerSample(), 12);
    EXPECT_EQ(format.BlockAlign(), 4);

    format.SetUp(64, 352800, 2, 0, false, kGuidNull);
    EXPECT_EQ(format.SubType(), kGuidIeeeFloat);
    EXPECT_EQ(format.FormatTag(), kFormatTagIeeeFloat);
    EXPECT_EQ(format.Flags(), 0u);
    EXPECT_TRUE(format.IsFloat());
    EXPECT_EQ(format.AvgBytesPerSec(), 352800u * 16);

    // 32 bits asked as integer PCM stay integers; an IEEE-float request for
    // 24 bits becomes integer PCM.
    format.SetUp(32, 48000, 1, 0, false, kGuidIntegerPcm);
    EXPECT_EQ(format.FormatTag(), kFormatTagPcm);
    EXPECT_EQ(format.Flags(), kAudioFormatIntegerSamples);
    format.SetUp(24, 48000, 1, 0, false, kGuidIeeeFloat);
    EXPECT_EQ(format.SubType(), kGuidIntegerPcm);

    // Base-GUID forms give their own tags; other GUIDs leave tag 1 unless extensible.
    format.SetUp(8, 8000, 1, 0, false, KwBaseGuid(0x92));
    EXPECT_EQ(format.FormatTag(), 0x92);
    format.SetUp(8, 8000, 1, 0, false, kGuidDsdLsbFirst);
    EXPECT_EQ(format.FormatTag(), kFormatTagPcm);
    EXPECT_FALSE(format.IsNativeDsd());

    format.SetUp(8, 352800, 2, 0, true, kGuidDsdLsbFirst);
    EXPECT_EQ(format.FormatTag(), kFormatTagExtensible);
    EXPECT_EQ(format.ExtraSize(), 22);
    EXPECT_TRUE(format.IsNativeDsd());
    EXPECT_FALSE(format.IsPackedDsd());
    format.SetUp(64, 176400, 2, 0, true, kGuidPackedDsdB);
    EXPECT_TRUE(format.IsPackedDsd());
    EXPECT_TRUE(format.IsFloat());
}

TEST(AudioFormat, ChannelTableLayouts) {
    CAudioFormat format;
    const struct {
        uint16_t count;
        uint32_t mask;
        std::vector<uint32_t> speakers;
    } layouts[] = {{0, 0, {}},
                   {1, 0, {1}},
                   {2, 0, {2, 3}},
                   {3, 0, {2, 3, 5}},
                   {4, 0x0F, {2, 3, 4, 5}},
                   {4, 0, {2, 3, 6, 7}},
                   {5, 0, {2, 3, 4, 6, 7}},
                   {6, 0, {2, 3, 4, 5, 6, 7}},
                   {7, 0x70F, {2, 3, 4, 5, 10, 6, 7}},
                   {7, 0, {2, 3, 4, 5, 6, 7, 10}},
                   {8, 0, {2, 3, 4, 5, 8, 9, 6, 7}}};
    for (const auto& l : layouts) {
        format.SetUp(1, 2822400, l.count, l.mask, false, kGuidNull);
        EXPECT_EQ(Speakers(format), l.speakers) << l.count << " " << l.mask;
        // The low-frequency speaker (5) in slot 3 gets level 10.
        if (l.count >= 4) {
            EXPECT_EQ(format.Channel(3).level, l.speakers[3] == 5 ? 10.0f : 0.0f) << l.count;
        }
    }
    EXPECT_EQ(format.Channel(2).level, 0.0f);

    format.SetUp(1, 2822400, 64, 0, false, kGuidNull);
    EXPECT_EQ(format.Channel(8).speaker, 13u);
    EXPECT_EQ(format.Channel(31).speaker, 36u);
    EXPECT_EQ(format.Channel(32).speaker, 0u);
    EXPECT_EQ(format.Channel(32).present, 1);
    EXPECT_EQ(format.Channel(63).present, 1);
    EXPECT_EQ(format.BitsPerFrame(), 64u);

    // Counts beyond the table fill all 64 slots and no more.
    format.SetUp(1, 2822400, 100, 0, false, kGuidNull);
    EXPECT_EQ(Speakers(format).size(), 64u);
}

TEST(AudioFormat, SetChannelCountRebuildsOnlyOnChangeAndSetsTheMask) {
    CAudioFormat format;
    format.SetUp(1, 2822400, 2, 0, false, kGuidNull);
    format.SetChannelCount(3);
    EXPECT_EQ(format.Channels(), 3);
    EXPECT_EQ(Speakers(format), (std::vector<uint32_t>{2, 3, 5}));
    EXPECT_EQ(format.ChannelMask(), 0x3FFFFu);
    EXPECT_EQ(format.SampleRate(), 2822400u);
    EXPECT_EQ(format.BitsPerSample(), 1);

    const struct {
        uint16_t count;
        uint32_t mask;
    } cases[] = {{1, 0x4}, {2, 0x3}, {4, 0x33}, {5, 0x607}, {6, 0x60F}, {7, 0x70F}, {8, 0x63F}, {9, 0x3FFFF}};
    for (const auto& c : cases) {
        format.SetChannelCount(c.count);
        EXPECT_EQ(format.ChannelMask(), c.mask) << c.count;
    }
    // The table is not rebuilt from the new mask: 4 channels keep 2, 3, 6, 7.
    format.SetChannelCount(4);
    EXPECT_EQ(Speakers(format), (std::vector<uint32_t>{2, 3, 6, 7}));

    // An extensible record keeps its state and subtype.
    format.SetUp(1, 2822400, 2, 0, true, kGuidDsdMsbFirst);
    format.SetChannelCount(6);
    EXPECT_EQ(format.FormatTag(), kFormatTagExtensible);
    EXPECT_EQ(format.SubType(), kGuidDsdMsbFirst);
}

TEST(AudioFormat, ByteLayoutIsTheExternalRecord) {
    CAudioFormat format;
    format.SetUp(8, 352800, 6, 0, true, kGuidDsdLsbFirst);
    const uint8_t* b = format.Bytes();
    EXPECT_EQ(b[0] | b[1] << 8, 0xFFFE);
    EXPECT_EQ(b[2] | b[3] << 8, 6);
    EXPECT_EQ(Le32(b + 4), 352800u);
    EXPECT_EQ(Le32(b + 8), 352800u * 6);
    EXPECT_EQ(b[12] | b[13] << 8, 6);
    EXPECT_EQ(b[14] | b[15] << 8, 8);
    EXPECT_EQ(b[16] | b[17] << 8, 22);
    EXPECT_EQ(b[18] | b[19] << 8, 8);
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
