// Writes DSD Stream Files (DSF): the 28-byte "DSD " chunk, the 52-byte "fmt "
// chunk, the "data" chunk with block-planar, least-significant-bit-first audio,
// and an optional ID3v2 tag at the end that the metadata offset points at.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/lib/SigmaDelta.h"

namespace dsdtools {

constexpr uint32_t kDsfDsdChunkSize = 28;
constexpr uint32_t kDsfFmtChunkSize = 52;
constexpr uint32_t kDsfDataHeaderSize = 12;
constexpr uint32_t kDsfDefaultBlockSize = 4096;

struct DsfOptions {
    uint32_t blockSize = kDsfDefaultBlockSize;  // bytes per channel block (0 is taken as 1)
    uint32_t channelType = 0;                    // 0: the usual type for the channel count
    uint32_t formatVersion = 1;
    uint32_t formatId = 0;  // 0: raw DSD
    std::vector<uint8_t> tag;  // ID3v2 tag bytes to append; empty: none (metadata offset 0)
};

// The DSF channel type for a channel count: 1 mono, 2 stereo, 3 three
// channels, 4 quad, 5 five channels (type 6), 6 5.1 (type 7); 0 for others.
uint32_t DsfChannelType(uint32_t channels);

// The whole file in memory. Returns an empty vector when the stream has no
// channels or more than 6.
std::vector<uint8_t> BuildDsf(const DsdStream& stream, const DsfOptions& options = {});
bool WriteDsf(const std::string& path, const DsdStream& stream, const DsfOptions& options = {});

// A small ID3v2.3 tag holding text frames, e.g. {"TIT2", "Title"}, {"TPE1",
// "Artist"}. Texts are UTF-8; pure ASCII texts are stored as ISO-8859-1,
// others as UTF-16 with a byte-order mark. `padding` zero bytes follow the
// frames.
std::vector<uint8_t> MakeId3v23Tag(const std::vector<std::pair<std::string, std::string>>& textFrames,
                                   uint32_t padding = 0);

}  // namespace dsdtools
