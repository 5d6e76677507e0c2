// Minimal reader of DSD sources for the tools: DSF files and plain
// (uncompressed) DSDIFF files, delivered as bytes interleaved by channel,
// earliest bit in bit 7 (the DSDIFF and DST frame layout).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dsdtools {

struct DsdSource {
    uint32_t channels = 0;
    uint32_t rate = 0;
    uint64_t sampleCount = 0;       // bits per channel
    std::vector<uint8_t> interleaved;  // (sampleCount + 7) / 8 bytes per channel
};

// Parses a DSF or plain DSDIFF file held in memory; false on anything else
// or on a damaged file.
bool ParseDsdSource(const std::vector<uint8_t>& file, DsdSource& out);
bool ReadDsdSource(const std::string& path, DsdSource& out);

}  // namespace dsdtools
