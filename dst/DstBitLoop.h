// The arithmetic-coded part of a DST frame: per-bit prediction and the
// arithmetic decoder shared by all channels (called by DecodeFrame once the
// header is read).
#pragma once

#include <cstdint>

#include "dst/DstDecoder.h"

// int16 entries per filter in DstFrameDecoder::filterLut: the phase tables
// (16 history bytes × 256 values × 8 bit phases), then the 256-entry table of
// the bits of the current byte.
inline constexpr int32_t kDstPhaseTable = kDstFilterGroups * 256 * 8;
inline constexpr int32_t kDstFilterLutStride = kDstPhaseTable + 256;

// Entries per probability table in DstFrameDecoder::probLut.
inline constexpr int32_t kDstProbLutSize = 1024;

// Builds the lookup tables of the frame's filters from their coefficients.
void DstBuildFilterTables(DstFrameDecoder* s);

// Decodes the arithmetic-coded bits into F × channels output bytes. 0, or
// kDstErrArithUnderrun when the coder read fewer bits than the frame holds.
int32_t DstDecodeBits(DstFrameDecoder* s, const uint8_t* input, uint8_t* output);
