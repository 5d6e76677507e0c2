// CAudioFormat: the 2860-byte audio format record. The first 40 bytes are a
// WAVE-format-extensible header; a 64-slot channel table with speaker
// identifiers and a flags word follow. The output record travels to the host
// byte for byte, so the layout below is fixed (little-endian, every field at
// its natural alignment, no padding beyond the listed reserved bytes).
#pragma once

#include <cstddef>
#include <cstdint>

// A GUID in its in-memory form (first three groups little-endian).
struct KwGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};

    friend bool operator==(const KwGuid& a, const KwGuid& b) {
        if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.data4[i] != b.data4[i]) return false;
        return true;
    }
    bool IsNull() const { return *this == KwGuid{}; }
};
static_assert(sizeof(KwGuid) == 16);

// n-0000-0010-8000-00AA00389B71: the base form that carries a format-tag number.
constexpr KwGuid KwBaseGuid(uint32_t n) {
    return KwGuid{n, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

inline constexpr KwGuid kGuidNull{};
inline constexpr KwGuid kGuidIntegerPcm = KwBaseGuid(0x0001);
inline constexpr KwGuid kGuidIeeeFloat = KwBaseGuid(0x0003);
// Native DSD, earliest bit in bit 0 (DSF byte order).
inline constexpr KwGuid kGuidDsdLsbFirst{0x34CF0AEF, 0x4A1B, 0x4927, {0x97, 0x9D, 0xDE, 0x4D, 0x41, 0x71, 0xA6, 0xB1}};
// Native DSD, earliest bit in bit 7 (DSDIFF and disc-image byte order).
inline constexpr KwGuid kGuidDsdMsbFirst{0xB3B3761C, 0x48C9, 0x46AE, {0xB8, 0x63, 0x67, 0x6D, 0xF6, 0x06, 0x1D, 0xB5}};
// DSD packed two bytes at a time into PCM frames (output-mode bits 1 and 2).
inline constexpr KwGuid kGuidPackedDsdA{0x759FB349, 0xE701, 0x4AFB, {0x92, 0x76, 0xA2, 0xDD, 0xD8, 0x75, 0x35, 0xD5}};
inline constexpr KwGuid kGuidPackedDsdB{0x274485C3, 0x69F6, 0x4912, {0x84, 0x93, 0x89, 0x53, 0xE7, 0x0E, 0x1E, 0x74}};

constexpr uint16_t kFormatTagPcm = 0x0001;
constexpr uint16_t kFormatTagIeeeFloat = 0x0003;
constexpr uint16_t kFormatTagExtensible = 0xFFFE;

// Speaker identifiers of the channel table.
enum KwSpeaker : uint32_t {
    kSpeakerNone = 0,
    kSpeakerMono = 1,
    kSpeakerFrontLeft = 2,
    kSpeakerFrontRight = 3,
    kSpeakerFrontCentre = 4,
    kSpeakerLowFrequency = 5,
    kSpeakerSideLeft = 6,
    kSpeakerSideRight = 7,
    kSpeakerBackLeft = 8,
    kSpeakerBackRight = 9,
    kSpeakerBackCentre = 10,
};

constexpr int kAudioFormatMaxChannels = 64;
// Flags bit: the samples are integers (not floating point).
constexpr uint32_t kAudioFormatIntegerSamples = 1u << 2;

class CAudioFormat {
public:
    // One slot of the channel table (44 bytes).
    struct ChannelEntry {
        uint32_t speaker;      // 0
        uint8_t present;       // 4
        uint8_t reserved0[3];  // 5
        float level;           // 8
        uint8_t reserved1[32]; // 12
    };

    // 16 bits, 44100 Hz, 2 channels, mask 0, not extensible, null subtype.
    CAudioFormat();

    // Builds the whole record from the request (see CAudioFormat.cpp).
    void SetUp(uint16_t bits, uint32_t sampleRate, uint16_t channels, uint32_t channelMask, bool extensible,
               const KwGuid& subtype);
    // Sets the channel count of a record whose count is learnt late (DSDIFF, disc
    // images): rebuilds the record when the count changes, then sets the channel
    // mask alone from the count.
    void SetChannelCount(uint16_t channels);

    uint16_t FormatTag() const { return formatTag_; }
    uint16_t Channels() const { return channels_; }
    uint32_t SampleRate() const { return sampleRate_; }
    uint32_t AvgBytesPerSec() const { return avgBytesPerSec_; }
    uint16_t BlockAlign() const { return blockAlign_; }
    uint16_t BitsPerSample() const { return bitsPerSample_; }
    uint16_t ExtraSize() const { return extraSize_; }
    uint16_t ValidBitsPerSample() const { return validBitsPerSample_; }
    uint32_t ChannelMask() const { return channelMask_; }
    const KwGuid& SubType() const { return subType_; }
    uint32_t Flags() const { return flags_; }
    const ChannelEntry& Channel(int slot) const { return channelTable_[slot]; }

    bool IsExtensible() const { return formatTag_ == kFormatTagExtensible; }
    bool IsFloat() const { return (flags_ & kAudioFormatIntegerSamples) == 0; }
    bool IsNativeDsd() const;
    bool IsPackedDsd() const;
    // Block align × 8 when the block align is non-zero, else bits × channels.
    uint32_t BitsPerFrame() const;
    // Slot of the first channel whose speaker identifier is `speaker`, or -1.
    int FindSpeaker(uint32_t speaker) const;

    // The record as the host receives it.
    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(this); }
    static constexpr size_t kSize = 2860;

private:
    void BuildChannelTable();
    void SetSlot(int slot, uint32_t speaker, float level = 0.0f);

    // WAVE-format-extensible header.
    uint16_t formatTag_;          // 0
    uint16_t channels_;           // 2
    uint32_t sampleRate_;         // 4
    uint32_t avgBytesPerSec_;     // 8
    uint16_t blockAlign_;         // 12
    uint16_t bitsPerSample_;      // 14
    uint16_t extraSize_;          // 16
    uint16_t validBitsPerSample_; // 18
    uint32_t channelMask_;        // 20
    KwGuid subType_;              // 24
    ChannelEntry channelTable_[kAudioFormatMaxChannels]; // 40
    uint32_t flags_;              // 2856

    friend struct CAudioFormatLayout;
};

static_assert(sizeof(CAudioFormat::ChannelEntry) == 44);
static_assert(sizeof(CAudioFormat) == CAudioFormat::kSize);

// Compile-time checks of the field offsets (a friend so it sees the members).
struct CAudioFormatLayout {
    static_assert(offsetof(CAudioFormat, formatTag_) == 0);
    static_assert(offsetof(CAudioFormat, channels_) == 2);
    static_assert(offsetof(CAudioFormat, sampleRate_) == 4);
    static_assert(offsetof(CAudioFormat, avgBytesPerSec_) == 8);
    static_assert(offsetof(CAudioFormat, blockAlign_) == 12);
    static_assert(offsetof(CAudioFormat, bitsPerSample_) == 14);
    static_assert(offsetof(CAudioFormat, extraSize_) == 16);
    static_assert(offsetof(CAudioFormat, validBitsPerSample_) == 18);
    static_assert(offsetof(CAudioFormat, channelMask_) == 20);
    static_assert(offsetof(CAudioFormat, subType_) == 24);
    static_assert(offsetof(CAudioFormat, channelTable_) == 40);
    static_assert(offsetof(CAudioFormat, flags_) == 2856);
    static_assert(offsetof(CAudioFormat::ChannelEntry, present) == 4);
    static_assert(offsetof(CAudioFormat::ChannelEntry, level) == 8);
};
