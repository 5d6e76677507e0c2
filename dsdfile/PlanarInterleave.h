// Interleaving of per-channel byte planes into frames (native DSD delivery of
// planar sources).
#pragma once

#include <cstddef>
#include <cstdint>

// out[k * count + i] = planes[i][k] for k < frames, i < count; a null plane
// gives `fill` bytes. Two and four planes take a vector path.
void InterleavePlanes(const uint8_t* const* planes, size_t count, size_t frames, uint8_t fill, uint8_t* out);
