// Files that `dsdhost decode` writes: raw bytes, DSDIFF for native DSD, WAV or
// FLAC for PCM.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Takes the bytes exactly as the plug-in delivered them.
    virtual bool Write(const uint8_t* data, size_t size) = 0;
    // Completes the file (sizes in headers); false on a write error.
    virtual bool Finish() = 0;
};

struct StreamShape {
    int channels = 0;
    uint32_t sampleRate = 0;  // of the delivered stream (bytes or frames per second per channel)
    uint32_t dsdRate = 0;     // DSD bit rate per channel, for DSDIFF output
    bool lsbFirst = false;    // native DSD delivered least significant bit first
};

enum class PcmFormat { F64, F32, S24 };

// "-" or anything without a known extension: raw bytes (standard output for "-").
std::unique_ptr<OutputSink> OpenRawSink(const std::string& path, std::string& error);
// Native DSD as a DSDIFF file, most significant bit first.
std::unique_ptr<OutputSink> OpenDsdiffSink(const std::string& path, const StreamShape& shape, std::string& error);
// 64-bit float PCM frames as a WAV file in the chosen sample format.
std::unique_ptr<OutputSink> OpenWavSink(const std::string& path, const StreamShape& shape, PcmFormat format,
                                        std::string& error);
// 64-bit float PCM frames as a 24-bit FLAC file (clipped at full scale).
std::unique_ptr<OutputSink> OpenFlacSink(const std::string& path, const StreamShape& shape, std::string& error);
