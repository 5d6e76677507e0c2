// Decimator of one DSD channel: a symmetric 96-tap FIR low-pass evaluated
// through byte-indexed lookup tables, one 64-bit PCM sample per DSD byte.
#pragma once

#include <cstddef>
#include <cstdint>

// Per-channel state: the ring of the last sixteen input bytes and the slot
// that receives the next one. Bytes that have passed into the older half of
// the filter are stored bit-reversed (see dsd2pcm_run).
struct dsd2pcm_ctx_s {
    uint8_t history[16];
    uint32_t position;
};

// Number of bytes of the ring the filter reads (96 taps = 12 bytes).
constexpr unsigned kDsd2PcmFilterBytes = 12;
// Lookup tables: six tables of 256 partial sums, T0 the outermost taps.
constexpr unsigned kDsd2PcmTables = 6;

// Builds the process-wide tables once. Not thread-safe by itself: the caller
// holds the conversion pool's lock (EnsureDecimatorTables in ConvertToPCM.h
// does that for callers outside the pool).
void dsd2pcm_build_tables();
bool dsd2pcm_tables_ready();
// The 256-entry bit-reversal table (valid once the tables are built).
const uint8_t* dsd2pcm_bit_reverse();

// Straight-line view of one channel for one pass of up to kDsd2PcmPass bytes:
// plain[k] holds ring slot (position + k) for k < 16 and new byte k - 16 after
// that, earliest bit in bit 7; older[k] holds the same bytes as the filter's
// older half reads them (bit-reversed from k = 10 on). Output j of the pass is
//   sum over i = 0 … 5 of (T_i[plain[16 + j - i]] + T_i[older[5 + j + i]]),
// the pairs accumulated from i = 0 up.
constexpr size_t kDsd2PcmPass = 512;
struct dsd2pcm_window_s {
    alignas(16) uint8_t plain[16 + kDsd2PcmPass];
    alignas(16) uint8_t older[16 + kDsd2PcmPass];
};
// m <= kDsd2PcmPass bytes from src, one every srcStride bytes.
void dsd2pcm_window_load(const dsd2pcm_ctx_s* ctx, dsd2pcm_window_s* window, const uint8_t* src,
                         ptrdiff_t srcStride, size_t m, bool lsbFirst);
// Leaves the state as m single-byte steps would have.
void dsd2pcm_window_store(dsd2pcm_ctx_s* ctx, const dsd2pcm_window_s* window, size_t m);

// Fills the history with the silence pattern 0x69 and sets the position to 0.
void dsd2pcm_init(dsd2pcm_ctx_s* ctx);
void dsd2pcm_reset(dsd2pcm_ctx_s* ctx);

// Consumes n bytes (src[0], src[srcStride], …) and writes n doubles
// (dst[0], dst[dstStride], …). lsbFirst: each byte's earliest bit is its
// least significant one (the byte is bit-reversed first). The tables must
// have been built.
void dsd2pcm_run(dsd2pcm_ctx_s* ctx, size_t n, const uint8_t* src, ptrdiff_t srcStride, bool lsbFirst,
                 double* dst, ptrdiff_t dstStride);
