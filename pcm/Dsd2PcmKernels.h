// Vector kernels of the decimator's window load (pcm/Dsd2Pcm.cpp chooses
// among them with ActivePcmKernels). Each gives exactly the bytes of the
// plain loop in Dsd2Pcm.cpp. (The table lookups themselves stay scalar: with
// every output's summation order fixed, they are bound by the additions, and
// assembling four lookups into a vector costs more than it saves.)
#pragma once

#include <cstddef>
#include <cstdint>

#include "pcm/Dsd2Pcm.h"

// Copies the first n bytes of src to one array and their bit-reversed
// values to the other: to plain when reversePlain (plain gets the reversed
// bytes, older the originals), to older otherwise. Returns how many bytes it
// handled (a multiple of its vector width, at most n); the caller does the rest.
size_t dsd2pcm_split_sse2(const uint8_t* src, uint8_t* plain, uint8_t* older, size_t n, bool reversePlain);
// The same for every second byte of src (src[0], src[2], …: one channel of
// an interleaved stereo source).
size_t dsd2pcm_split2_sse2(const uint8_t* src, uint8_t* plain, uint8_t* older, size_t n, bool reversePlain);
size_t dsd2pcm_split_avx2(const uint8_t* src, uint8_t* plain, uint8_t* older, size_t n, bool reversePlain);
