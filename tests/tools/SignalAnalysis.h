// Test helpers: measuring a sine's frequency, level and in-band SNR (the
// ffmpeg decode itself is the end-to-end tests' helper).
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

namespace dsdtest {

// True when an ffmpeg program can be run.
bool HaveFfmpeg();

// Runs a shell command and returns what it printed.
std::string RunCommand(const std::string& command);

struct ToneMeasure {
    double peakFrequency = 0;  // Hz, centre of the strongest bin in the audio band
    double levelDb = -999;     // sine amplitude in dB (1.0 = 0 dB)
    double snrDb = 0;          // sine power over all other power from 20 Hz to 20 kHz
};

// Analyses `count` frames (a power of two) of one channel of an interleaved
// signal, starting at frame `start`, with a Blackman-Harris window and an FFT.
// `expected` is the tone's frequency.
ToneMeasure MeasureTone(const std::vector<double>& x, size_t channels, size_t channel, size_t start, size_t count,
                        double rate, double expected);

// A fresh path in the test's temporary folder.
std::string TempPath(const std::string& name);

// Integer readers.
uint64_t LoadLE(const uint8_t* p, int bytes);
uint64_t LoadBE(const uint8_t* p, int bytes);

}  // namespace dsdtest
