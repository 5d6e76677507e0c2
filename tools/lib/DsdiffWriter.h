// Writes DSD Interchange File Format (DSDIFF) files, big-endian: a "FRM8" form
// of type "DSD " holding "FVER", a "PROP" chunk of type "SND " ("FS  ",
// "CHNL", "CMPR", optionally "ABSS" and "LSCO"), then the sound data: either a
// plain "DSD " chunk (byte-interleaved, earliest bit in bit 7) or a "DST "
// chunk ("FRTE", then a "DSTF" chunk per frame, each optionally followed by a
// "DSTC" chunk). Chunks of odd size are followed by a pad byte.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/lib/SigmaDelta.h"

namespace dsdtools {

constexpr uint32_t kDsdiffVersion = 0x01050000;

struct DsdiffChunk {
    std::string id;  // four characters (shorter ids are padded with spaces)
    std::vector<uint8_t> body;
};

struct DsdiffOptions {
    // Channel identifiers; empty: the usual ones for the channel count.
    std::vector<std::string> channelIds;
    // "ABSS" start time code, written when `writeAbss` is set.
    bool writeAbss = false;
    uint16_t abssHours = 0;
    uint8_t abssMinutes = 0;
    uint8_t abssSeconds = 0;
    uint32_t abssSamples = 0;
    // "LSCO" loudspeaker configuration, written when not negative
    // (0 stereo, 3 five channels, 4 5.1, 65535 undefined).
    int32_t loudspeakerConfig = -1;
    // Extra top-level chunks written after the sound data (e.g. "DIIN", "ID3 ").
    std::vector<DsdiffChunk> trailingChunks;
    // DST only: the frame rate stored in "FRTE", and per frame the body of a
    // "DSTC" chunk to follow it (missing or empty entries: no "DSTC").
    uint16_t dstFrameRate = 75;
    std::vector<std::vector<uint8_t>> dstCrcs;
};

// The usual channel identifiers: 1 "C   "; 2 "SLFT" "SRGT"; 3 "MLFT" "MRGT"
// "C   "; 4 "MLFT" "MRGT" "LS  " "RS  "; 5 "MLFT" "MRGT" "C   " "LS  " "RS  ";
// 6 "MLFT" "MRGT" "C   " "LFE " "LS  " "RS  ". Empty for other counts.
std::vector<std::string> DsdiffChannelIds(uint32_t channels);

// Plain DSDIFF file in memory; empty when the stream has no channels or more
// than 6 (without explicit channel ids).
std::vector<uint8_t> BuildDsdiff(const DsdStream& stream, const DsdiffOptions& options = {});
bool WriteDsdiff(const std::string& path, const DsdStream& stream, const DsdiffOptions& options = {});

// DST-compressed DSDIFF from already coded frames (one "DSTF" chunk each).
std::vector<uint8_t> BuildDsdiffDst(uint32_t channels, uint32_t rate,
                                    const std::vector<std::vector<uint8_t>>& frames,
                                    const DsdiffOptions& options = {});
bool WriteDsdiffDst(const std::string& path, uint32_t channels, uint32_t rate,
                    const std::vector<std::vector<uint8_t>>& frames, const DsdiffOptions& options = {});

}  // namespace dsdtools
