// CID3v2Frame: one frame of an ID3v2 tag, its raw bytes and the fields
// decoded from them, plus the byte-level helpers (synchsafe numbers,
// unsynchronisation) that the tag reader and writer share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "plugin/kwapi/IKwTools.h"
#include "tags/KwPropertyMap.h"

// What a frame holds, by its ID; decides which fields are decoded.
enum class ID3v2FrameKind : uint8_t {
    kOther,          // bytes kept, no fields (WXXX, UFID, ...)
    kText,           // T??? except TXXX
    kUserText,       // TXXX
    kComment,        // COMM, USLT, QBGN
    kPicture,        // APIC
    kPopularimeter,  // POPM
    kPodcast,        // PCST
    kUrl,            // W??? except WXXX
    kPrivate,        // PRIV
};

ID3v2FrameKind ID3v2KindOf(std::string_view id);

// Frame flags as one 16-bit value, the first flag byte low.
constexpr uint16_t kID3FrameDataLength = 0x100;   // 2.4: data-length indicator
constexpr uint16_t kID3FrameUnsync = 0x200;       // 2.4: frame unsynchronised
constexpr uint16_t kID3FrameCompressed = 0x800;   // 2.4: zlib compressed
constexpr uint16_t kID3FrameCompressed23 = 0x8000;  // 2.3: zlib compressed, 4-byte size first

// Largest buffer a compressed frame may inflate into.
constexpr size_t kID3MaxInflated = size_t{64} << 20;

uint32_t ID3v2ReadSynchsafe(const uint8_t* p);
void ID3v2WriteSynchsafe(uint8_t* p, uint32_t value);
uint32_t ID3v2ReadBigEndian(const uint8_t* p);
void ID3v2WriteBigEndian(uint8_t* p, uint32_t value);
// Removes every zero byte that follows a 0xFF byte.
std::vector<uint8_t> ID3v2Deunsynchronise(const uint8_t* p, size_t n);

class CID3v2Frame {
public:
    char id[4] = {};
    uint8_t sizeField[4] = {};
    uint16_t flags = 0;
    std::vector<uint8_t> data;
    // The fields decoded from `data`. Which exist follows from the kind
    // (Kind()): "Text Encoding", "Language ID", "Mime Type", "Picture Type"
    // (-1 / empty when the kind has none), "Description" (hasDescription) and
    // "Value" (every kind but kOther). They are plain members rather than a
    // property map: a tag is read far more often than its frames' fields are
    // asked for as a map, and a map costs allocations for every key.
    int32_t encoding = -1;
    int32_t language = -1;
    KwString mime;
    int32_t pictureType = -1;
    bool hasDescription = false;
    KwString description;
    // The "Value" text of every kind but pictures.
    KwString value;
    // The image bytes of an APIC frame; its "Value" is their Base64 text,
    // made only when asked for (an image file is written from the bytes).
    std::vector<uint8_t> image;

    std::string_view Id() const { return {id, 4}; }
    ID3v2FrameKind Kind() const { return ID3v2KindOf(Id()); }
    bool HasValue() const { return Kind() != ID3v2FrameKind::kOther; }
    // The "Value" field (the Base64 text of a picture).
    KwString Value() const;
    // Its length in characters, without making a picture's Base64 text.
    size_t ValueLength() const;
    // The decoded fields as a property map, in the order they are decoded.
    void Fields(KwPropertyMap& out) const;
    // Rewrites the size field: synchsafe for version 2.4, plain big-endian otherwise.
    void SetSizeField(uint32_t size, bool synchsafe);
    // Decodes the fields from `data`. `tools` supplies the decompressor (may be
    // null: compressed frames then keep their raw bytes); `majorVersion` tells
    // the 2.3 flag layout from the 2.4 one.
    void DecodeFields(IKwTools* tools, uint8_t majorVersion);
};
