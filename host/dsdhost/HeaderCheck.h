// dsdhost's own look at the first chunks of a DSF or DSDIFF file, to say in
// words why the plug-in refused it (not a DSD file at all, or which header
// field is damaged) and what a decode of it should deliver. It reads the
// chunk headers only and keeps no state; the plug-in stays the judge of what
// plays.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct HeaderFacts {
    std::string kind;           // "DSF", "DSDIFF" or empty when neither
    std::string fault;          // the first damaged field, empty when none was found
    uint32_t channels = 0;
    uint32_t sampleRate = 0;    // DSD bits per second per channel
    uint64_t dsfSampleCount = 0;  // DSF: the fmt chunk's sample count per channel
    uint64_t dataBytes = 0;     // sound data bytes that the file holds
};

// Reads up to `count` bytes at `position`; returns the number read.
using HeaderReadFn = std::function<size_t(uint64_t position, void* buffer, size_t count)>;

// True for the DSD rates: 44100 × 64 or 48000 × 64 times 1, 2, 4, 8 or 16.
bool IsDsdRate(uint64_t rate);

// Looks at a file of `fileSize` bytes.
HeaderFacts CheckHeader(const HeaderReadFn& read, uint64_t fileSize);
