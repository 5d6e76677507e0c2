// DSD-to-PCM conversion: pooled per-shape contexts of decimators and low-pass
// filters, and the conversion of one block of DSD bytes into 64-bit PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>


class CConvertToPCMContext;

// Low-pass modes of the setting "Low-pass mode".
enum LowPassMode : uint32_t { kLowPassSafe = 0, kLowPassMedium = 1, kLowPassPermissive = 2, kLowPassOff = 3 };

// +6.0 dB as a factor (10^0.3).
constexpr double kGain6dB = 1.9952623149688795;

// Takes an idle context of this shape from the process-wide pool, or makes one.
// A mode outside 0..3 behaves as Safe.
CConvertToPCMContext* TakeConvertContext(uint32_t channels, uint32_t outputRate, uint32_t lowPassMode);
// Gives a context back to the pool (at most three stay idle).
void ReturnConvertContext(CConvertToPCMContext* context);
// Destroys the pool and every idle context (at library unload).
void DestroyConvertContextPool();

// Converts one block: for each of `channels` source channels c, `frames` DSD
// bytes starting at block[c * channelOffset] with the given stride become
// `frames` doubles at destination[c], destination[c + channels], ...
// `lsbFirst`: reverse each byte's bit order first (DSF data).
// `add6dB`: multiply every result by kGain6dB afterwards.
void ConvertToPCM(CConvertToPCMContext& context, const uint8_t* block, size_t frames,
                  size_t channelOffset, size_t stride, bool lsbFirst, bool add6dB, double* destination);

// Refills every decimator with the silence history and zeroes every filter state.
void ResetConvertContext(CConvertToPCMContext& context);

// The filter design of a low-pass mode (any value outside 0..3 is Safe):
// section count and cut-off in Hz; false for Off.
bool LowPassDesign(uint32_t lowPassMode, uint32_t& sections, double& cutOff);

// Builds the decimator tables under the pool lock, for callers that run a
// decimator without taking a context first.
void EnsureDecimatorTables();

// The idle contexts in pool order (a snapshot for diagnostics and tests).
std::vector<const CConvertToPCMContext*> IdleConvertContexts();
