#include "tools/lib/DsfWriter.h"

#include <algorithm>

#include "support/KwTypes.h"
#include "tools/lib/ByteSink.h"

namespace dsdtools {

uint32_t DsfChannelType(uint32_t channels) {
    switch (channels) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 3;
    case 4: return 4;
    case 5: return 6;
    case 6: return 7;
    default: return 0;
    }
}

std::vector<uint8_t> BuildDsf(const DsdStream& stream, const DsfOptions& options) {
    const size_t channels = stream.ChannelCount();
    if (channels < 1 || channels > 6) return {};
    const size_t block = std::max<uint32_t>(options.blockSize, 1);
    const size_t bytesPerChannel = stream.BytesPerChannel();
    const size_t groups = (bytesPerChannel + block - 1) / block;
    const uint64_t dataBytes = static_cast<uint64_t>(groups) * block * channels;

    ByteSink out;
    out.bytes.reserve(kDsfDsdChunkSize + kDsfFmtChunkSize + kDsfDataHeaderSize + dataBytes + options.tag.size());

    out.Id("DSD ");
    out.U64LE(kDsfDsdChunkSize);
    out.U64LE(0);  // total file size, patched below
    out.U64LE(0);  // metadata offset, patched below

    out.Id("fmt ");
    out.U64LE(kDsfFmtChunkSize);
    out.U32LE(options.formatVersion);
    out.U32LE(options.formatId);
    out.U32LE(options.channelType ? options.channelType : DsfChannelType(static_cast<uint32_t>(channels)));
    out.U32LE(static_cast<uint32_t>(channels));
    out.U32LE(stream.rate);
    out.U32LE(1);  // bits per sample
    out.U64LE(stream.sampleCount);
    out.U32LE(static_cast<uint32_t>(block));
    out.U32LE(0);

    out.Id("data");
    out.U64LE(kDsfDataHeaderSize + dataBytes);
    for (size_t g = 0; g < groups; ++g) {
        const size_t begin = g * block;
        const size_t n = std::min(block, bytesPerChannel - begin);
        for (size_t ch = 0; ch < channels; ++ch) {
            const std::vector<uint8_t>& src = stream.channels[ch];
            for (size_t i = 0; i < n; ++i) {
                // Streams are packed earliest bit first in bit 7; DSF wants it in bit 0.
                const uint8_t b = begin + i < src.size() ? src[begin + i] : 0;
                out.U8(ReverseBits(b));
            }
            out.Fill(0, block - n);
        }
    }

    uint64_t metadataOffset = 0;
    if (!options.tag.empty()) {
        metadataOffset = out.Size();
        out.Append(options.tag);
    }
    out.PatchU64LE(12, out.Size());
    out.PatchU64LE(20, metadataOffset);
    return std::move(out.bytes);
}

bool WriteDsf(const std::string& path, const DsdStream& stream, const DsfOptions& options) {
    std::vector<uint8_t> bytes = BuildDsf(stream, options);
    return !bytes.empty() && WriteFileBytes(path, bytes);
}

std::vector<uint8_t> MakeId3v23Tag(const std::vector<std::pair<std::string, std::string>>& textFrames,
                                   uint32_t padding) {
    ByteSink frames;
    for (const auto& [id, text] : textFrames) {
        ByteSink body;
        const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii) {
            body.U8(0);
            body.Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        } else {
            body.U8(1);
            body.U8(0xFF);
            body.U8(0xFE);
            for (KwChar c : KwFromUtf8(text)) body.U16LE(static_cast<uint16_t>(c));
        }
        frames.Id(id);
        frames.U32BE(static_cast<uint32_t>(body.Size()));
        frames.U16BE(0);
        frames.Append(body.bytes);
    }
    frames.Fill(0, padding);

    // The tag size is stored in four 7-bit groups.
    const uint32_t size = static_cast<uint32_t>(frames.Size());
    ByteSink tag;
    tag.Append(reinterpret_cast<const uint8_t*>("ID3"), 3);
    tag.U8(3);
    tag.U8(0);
    tag.U8(0);
    for (int shift = 21; shift >= 0; shift -= 7) tag.U8(static_cast<uint8_t>((size >> shift) & 0x7F));
    tag.Append(frames.bytes);
    return std::move(tag.bytes);
}

}  // namespace dsdtools
