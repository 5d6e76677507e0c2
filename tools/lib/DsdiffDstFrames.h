// Reads the coded frames of a DST-compressed DSDIFF file as they are (one per
// "DSTF" chunk), with the file's channel count and rate, so that they can be
// placed on a disc image without coding them again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dsdtools {

struct DstFrameFile {
    uint32_t channels = 0;
    uint32_t rate = 0;
    std::vector<std::vector<uint8_t>> frames;
};

// False for anything but a well-formed DST-compressed DSDIFF file.
bool ParseDsdiffDstFrames(const std::vector<uint8_t>& file, DstFrameFile& out);
bool ReadDsdiffDstFrames(const std::string& path, DstFrameFile& out);

}  // namespace dsdtools
