#include "dsdfile/CAudioFormat.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the record is stored little-endian as in memory");

CAudioFormat::CAudioFormat() { SetUp(16, 44100, 2, 0, false, kGuidNull); }

void CAudioFormat::SetUp(uint16_t bits, uint32_t sampleRate, uint16_t channels, uint32_t channelMask,
                         bool extensible, const KwGuid& requestedSubtype) {
    // The subtype may be this record's own field (SetChannelCount): copy it first.
    const KwGuid subtype = requestedSubtype;
    // Every byte not set below (reserved bytes, unused table slots) is zero.
    std::memset(static_cast<void*>(this), 0, sizeof(*this));

    const bool isFloat = (bits == 32 || bits == 64) && !(subtype == kGuidIntegerPcm);
    flags_ = isFloat ? 0 : kAudioFormatIntegerSamples;

    uint32_t stored = bits;
    if (bits != 1 && bits % 8 != 0) stored = (static_cast<uint32_t>(bits) + 7) / 8 * 8;
    bitsPerSample_ = static_cast<uint16_t>(stored);
    validBitsPerSample_ = bits;

    channels_ = channels;
    sampleRate_ = sampleRate;
    blockAlign_ = static_cast<uint16_t>(bitsPerSample_ / 8 * static_cast<uint32_t>(channels));
    // 32-bit unsigned arithmetic, as the record's readers expect.
    avgBytesPerSec_ = static_cast<uint32_t>(BitsPerFrame() * sampleRate) / 8;
    extraSize_ = extensible ? 22 : 0;

    channelMask_ = static_cast<uint32_t>(std::popcount(channelMask)) == channels ? channelMask : 0;
    BuildChannelTable();

    if (subtype.IsNull() || subtype == kGuidIntegerPcm || subtype == kGuidIeeeFloat)
        subType_ = isFloat ? kGuidIeeeFloat : kGuidIntegerPcm;
    else
        subType_ = subtype;

    if (extensible)
        formatTag_ = kFormatTagExtensible;
    else if (subType_ == kGuidIeeeFloat)
        formatTag_ = kFormatTagIeeeFloat;
    else if (subType_ == KwBaseGuid(0x92))
        formatTag_ = 0x0092;
    else if (subType_ == KwBaseGuid(0x07))
        formatTag_ = 0x0007;
    else if (subType_ == KwBaseGuid(0x50))
        formatTag_ = 0x0050;
    else
        formatTag_ = kFormatTagPcm;
}

void CAudioFormat::SetSlot(int slot, uint32_t speaker, float level) {
    channelTable_[slot].speaker = speaker;
    channelTable_[slot].present = 1;
    channelTable_[slot].level = level;
}

void CAudioFormat::BuildChannelTable() {
    // Level 10.0 marks the low-frequency slot of the surround layouts.
    constexpr float kLfeLevel = 10.0f;
    const int count = channels_;
    switch (count) {
    case 0:
        return;
    case 1:
        SetSlot(0, kSpeakerMono);
        return;
    case 2:
        SetSlot(0, kSpeakerFrontLeft);
        SetSlot(1, kSpeakerFrontRight);
        return;
    case 3:
        SetSlot(0, kSpeakerFrontLeft);
        SetSlot(1, kSpeakerFrontRight);
        SetSlot(2, kSpeakerLowFrequency);
        return;
    case 4:
        SetSlot(0, kSpeakerFrontLeft);
        SetSlot(1, kSpeakerFrontRight);
        if (channelMask_ == 0x0F) {
            SetSlot(2, kSpeakerFrontCentre);
            SetSlot(3, kSpeakerLowFrequency, kLfeLevel);
        } else {
            SetSlot(2, kSpeakerSideLeft);
            SetSlot(3, kSpeakerSideRight);
        }
        return;
    case 5:
        SetSlot(0, kSpeakerFrontLeft);
        SetSlot(1, kSpeakerFrontRight);
        SetSlot(2, kSpeakerFrontCentre);
        SetSlot(3, kSpeakerSideLeft);
        SetSlot(4, kSpeakerSideRight);
        return;
    default:
        break;
    }

    // Six or more: front pair, centre, low frequency, then the rest.
    SetSlot(0, kSpeakerFrontLeft);
    SetSlot(1, kSpeakerFrontRight);
    SetSlot(2, kSpeakerFrontCentre);
    SetSlot(3, kSpeakerLowFrequency, kLfeLevel);
    if (count == 6) {
        SetSlot(4, kSpeakerSideLeft);
        SetSlot(5, kSpeakerSideRight);
        return;
    }
    if (count == 7) {
        if ((channelMask_ & 0x700) == 0x700) {
            SetSlot(4, kSpeakerBackCentre);
            SetSlot(5, kSpeakerSideLeft);
            SetSlot(6, kSpeakerSideRight);
        } else {
            SetSlot(4, kSpeakerSideLeft);
            SetSlot(5, kSpeakerSideRight);
            SetSlot(6, kSpeakerBackCentre);
        }
        return;
    }
    SetSlot(4, kSpeakerBackLeft);
    SetSlot(5, kSpeakerBackRight);
    SetSlot(6, kSpeakerSideLeft);
    SetSlot(7, kSpeakerSideRight);
    const int numbered = count < 32 ? count : 32;
    for (int slot = 8; slot < numbered; ++slot) SetSlot(slot, static_cast<uint32_t>(slot + 5));
    const int last = count < kAudioFormatMaxChannels ? count : kAudioFormatMaxChannels;
    for (int slot = 32; slot < last; ++slot) SetSlot(slot, kSpeakerNone);
}

void CAudioFormat::SetChannelCount(uint16_t channels) {
    if (channels != channels_)
        SetUp(bitsPerSample_, sampleRate_, channels, 0, IsExtensible(), subType_);
    switch (channels) {
    case 1: channelMask_ = 0x4; break;
    case 2: channelMask_ = 0x3; break;
    case 4: channelMask_ = 0x33; break;
    case 5: channelMask_ = 0x607; break;
    case 6: channelMask_ = 0x60F; break;
    case 7: channelMask_ = 0x70F; break;
    case 8: channelMask_ = 0x63F; break;
    default: channelMask_ = 0x3FFFF; break;
    }
}

bool CAudioFormat::IsNativeDsd() const {
    return formatTag_ == kFormatTagExtensible && (subType_ == kGuidDsdLsbFirst || subType_ == kGuidDsdMsbFirst);
}

bool CAudioFormat::IsPackedDsd() const {
    return formatTag_ == kFormatTagExtensible && (subType_ == kGuidPackedDsdA || subType_ == kGuidPackedDsdB);
}

uint32_t CAudioFormat::BitsPerFrame() const {
    if (blockAlign_ != 0) return static_cast<uint32_t>(blockAlign_) * 8;
    return static_cast<uint32_t>(bitsPerSample_) * channels_;
}

int CAudioFormat::FindSpeaker(uint32_t speaker) const {
    const int count = channels_ < kAudioFormatMaxChannels ? channels_ : kAudioFormatMaxChannels;
    for (int slot = 0; slot < count; ++slot)
        if (channelTable_[slot].present && channelTable_[slot].speaker == speaker) return slot;
    return -1;
}
