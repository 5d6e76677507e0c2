#include "tags/CID3v2Frame.h"

#include <algorithm>
#include <cstring>

#include "support/KwBase64.h"
#include "support/KwNumbers.h"
#include "tags/ID3v2Text.h"

ID3v2FrameKind ID3v2KindOf(std::string_view id) {
    if (id.size() != 4) return ID3v2FrameKind::kOther;
    if (id == "TXXX") return ID3v2FrameKind::kUserText;
    if (id[0] == 'T') return ID3v2FrameKind::kText;
    if (id == "COMM" || id == "USLT" || id == "QBGN") return ID3v2FrameKind::kComment;
    if (id == "APIC") return ID3v2FrameKind::kPicture;
    if (id == "POPM") return ID3v2FrameKind::kPopularimeter;
    if (id == "PCST") return ID3v2FrameKind::kPodcast;
    if (id == "PRIV") return ID3v2FrameKind::kPrivate;
    if (id[0] == 'W' && id != "WXXX") return ID3v2FrameKind::kUrl;
    return ID3v2FrameKind::kOther;
}

uint32_t ID3v2ReadSynchsafe(const uint8_t* p) {
    return (uint32_t{p[0] & 0x7Fu} << 21) | (uint32_t{p[1] & 0x7Fu} << 14) | (uint32_t{p[2] & 0x7Fu} << 7) |
           (p[3] & 0x7Fu);
}

void ID3v2WriteSynchsafe(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>((value >> 21) & 0x7F);
    p[1] = static_cast<uint8_t>((value >> 14) & 0x7F);
    p[2] = static_cast<uint8_t>((value >> 7) & 0x7F);
    p[3] = static_cast<uint8_t>(value & 0x7F);
}

uint32_t ID3v2ReadBigEndian(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void ID3v2WriteBigEndian(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

std::vector<uint8_t> ID3v2Deunsynchronise(const uint8_t* p, size_t n) {
    std::vector<uint8_t> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(p[i]);
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0) ++i;
    }
    return out;
}

void CID3v2Frame::SetSizeField(uint32_t size, bool synchsafe) {
    if (synchsafe)
        ID3v2WriteSynchsafe(sizeField, size);
    else
        ID3v2WriteBigEndian(sizeField, size);
}

namespace {

// Inflates `in` with the host's decompressor into at most 20 times its length.
bool Inflate(IKwTools* tools, const std::vector<uint8_t>& in, size_t skip, std::vector<uint8_t>& out) {
    if (!tools || in.size() <= skip) return false;
    KwPtr<IKwCompression> compression(tools->GetCompression());
    if (!compression) return false;
    KwPtr<IKwDecompressor> decompressor(compression->CreateDecompressor());
    if (!decompressor) return false;
    const size_t compressed = in.size() - skip;
    if (compressed > UINT32_MAX / 20) return false;
    const size_t room = std::min(compressed * 20, kID3MaxInflated);
    out.resize(room);
    auto length = static_cast<uint32_t>(room);
    if (!decompressor->Decompress(in.data() + skip, static_cast<uint32_t>(compressed), out.data(), &length))
        return false;
    out.resize(std::min<size_t>(length, room));
    return true;
}

bool StartsImage(const uint8_t* p, size_t pos, size_t end) {
    static const uint8_t kPng[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    if (end - pos >= 2 && p[pos] == 0xFF && p[pos + 1] == 0xD8) return true;
    return end - pos >= 8 && std::memcmp(p + pos, kPng, 8) == 0;
}

}  // namespace

KwString CID3v2Frame::Value() const {
    return Kind() == ID3v2FrameKind::kPicture ? KwBase64Encode(image.data(), image.size()) : value;
}

size_t CID3v2Frame::ValueLength() const {
    return Kind() == ID3v2FrameKind::kPicture ? KwBase64EncodedLength(image.size()) : value.size();
}

void CID3v2Frame::Fields(KwPropertyMap& out) const {
    out.Clear();
    const ID3v2FrameKind kind = Kind();
    if (kind == ID3v2FrameKind::kOther) return;
    if (encoding >= 0) out.SetInt(KW_T("Text Encoding"), encoding);
    if (language >= 0) out.SetInt(KW_T("Language ID"), language);
    if (kind == ID3v2FrameKind::kPicture) {
        out.SetString(KW_T("Mime Type"), mime);
        out.SetInt(KW_T("Picture Type"), pictureType);
    }
    if (hasDescription) out.SetString(KW_T("Description"), description);
    out.SetString(KW_T("Value"), Value());
}

void CID3v2Frame::DecodeFields(IKwTools* tools, uint8_t majorVersion) {
    encoding = -1;
    language = -1;
    mime.clear();
    pictureType = -1;
    hasDescription = false;
    description.clear();
    value.clear();
    image.clear();
    const ID3v2FrameKind kind = Kind();
    if (kind == ID3v2FrameKind::kOther) return;

    // Plain frames are read in place; unsynchronised and compressed ones from
    // a working copy.
    std::vector<uint8_t> work;
    const std::vector<uint8_t>* bytes = &data;
    if (flags & kID3FrameUnsync) {
        work = ID3v2Deunsynchronise(data.data(), data.size());
        bytes = &work;
    }
    size_t pos = (flags & kID3FrameDataLength) ? 4 : 0;
    std::vector<uint8_t> inflated;
    // The 2.4 data-length indicator and the 2.3 decompressed size both stand
    // before the compressed bytes.
    const bool compressed23 = majorVersion == 3 && (flags & kID3FrameCompressed23);
    if ((flags & kID3FrameCompressed) || compressed23) {
        const size_t skip = compressed23 ? 4 : pos;
        if (Inflate(tools, *bytes, skip, inflated)) {
            bytes = &inflated;
            pos = 0;
        }
    }
    static const uint8_t kNothing = 0;
    const uint8_t* p = bytes->empty() ? &kNothing : bytes->data();
    const size_t end = bytes->size();
    pos = std::min(pos, end);

    auto encodingByte = [&]() -> uint8_t {
        const uint8_t e = pos < end ? p[pos] : 0;
        if (pos < end) ++pos;
        encoding = e;
        return e;
    };
    auto readDescription = [&](uint8_t e) {
        description = ID3v2ReadText(p, pos, end, e);
        hasDescription = true;
    };
    switch (kind) {
    case ID3v2FrameKind::kText: {
        const uint8_t e = encodingByte();
        value = ID3v2ReadTexts(p, pos, end, e);
        break;
    }
    case ID3v2FrameKind::kUserText: {
        const uint8_t e = encodingByte();
        readDescription(e);
        value = ID3v2ReadTexts(p, pos, end, e);
        break;
    }
    case ID3v2FrameKind::kComment: {
        const uint8_t e = encodingByte();
        language = 0;
        for (int i = 0; i < 3; ++i) language = (language << 8) | (pos < end ? p[pos++] : 0);
        readDescription(e);
        value = ID3v2ReadTexts(p, pos, end, e);
        break;
    }
    case ID3v2FrameKind::kPicture: {
        const uint8_t e = encodingByte();
        mime = ID3v2ReadLatin1(p, pos, end);
        pictureType = pos < end ? p[pos++] : 3;
        if (!StartsImage(p, pos, end)) readDescription(e);
        pos = std::min(pos, end);
        image.assign(p + pos, p + end);
        break;
    }
    case ID3v2FrameKind::kPopularimeter: {
        while (pos < end && p[pos] != 0) ++pos;
        ++pos;
        const int r = pos < end ? p[pos] : 0;
        const int stars = r == 0 ? 0 : r <= 51 ? 1 : r <= 102 ? 2 : r <= 153 ? 3 : r <= 204 ? 4 : 5;
        value = KwFormatInt32(stars);
        break;
    }
    case ID3v2FrameKind::kPodcast: {
        uint32_t v = 0;
        for (size_t i = 0; i < 4 && pos + i < end; ++i) v |= uint32_t{p[pos + i]} << (8 * i);
        value = KwFormatInt64(v);
        break;
    }
    case ID3v2FrameKind::kUrl:
        value = ID3v2ReadTexts(p, pos, end, kID3Latin1);
        break;
    case ID3v2FrameKind::kPrivate:
        description = ID3v2ReadLatin1(p, pos, end);
        hasDescription = true;
        pos = std::min(pos, end);
        value = KwBase64Encode(p + pos, end - pos);
        break;
    case ID3v2FrameKind::kOther:
        break;
    }
}
