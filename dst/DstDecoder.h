// DST (Direct Stream Transfer) frame decoder: turns one coded frame (1/75 s of
// audio for every channel) into the frame's DSD bytes, interleaved by channel,
// most significant bit first.
//
// The decoder is a plain state record with free operations. One state serves
// one thread; frames are independent, so nothing but scratch memory carries
// over from one frame to the next. The state must be created zero-filled
// (value-initialised), then `Init` once, `DecodeFrame` per frame, `Release`.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int32_t kDstMaxChannels = 6;
inline constexpr int32_t kDstMaxTables = 2 * kDstMaxChannels;  // filters and probability tables
inline constexpr int32_t kDstMaxOrder = 128;                   // filter taps
inline constexpr int32_t kDstMaxTableLength = 64;              // probability table entries
inline constexpr int32_t kDstMaxFilterSegments = 4;
inline constexpr int32_t kDstMaxTableSegments = 8;
inline constexpr int32_t kDstMaxSegments = 8;
inline constexpr int32_t kDstMinFilterSegmentBits = 1024;
inline constexpr int32_t kDstMinTableSegmentBits = 32;
inline constexpr int32_t kDstMaxBytesPerChannel = 18816;  // 11289600 Hz
inline constexpr int32_t kDstMaxBitsPerChannel = 8 * kDstMaxBytesPerChannel;
inline constexpr int32_t kDstMethods = 3;
inline constexpr int32_t kDstFilterGroups = kDstMaxOrder / 8;  // lookup groups of 8 taps

// Result codes of DecodeFrame.
enum DstResult : int32_t {
    kDstOk = 0,
    kDstErrReadPastEnd = 1,
    kDstErrTooManySegments = 2,
    kDstErrBadResolution = 3,
    kDstErrBadSegmentLength = 4,
    kDstErrTooManyTables = 5,
    kDstErrTableNumberSkips = 6,
    kDstErrSameMappingCounts = 7,
    kDstErrCopiedMappingCounts = 8,
    kDstErrFilterMethod = 9,
    kDstErrFilterCoefRange = 10,
    kDstErrTableMethod = 11,
    kDstErrTableEntryRange = 12,
    kDstErrStuffingBits = 13,
    kDstErrFirstArithBit = 14,
    kDstErrArithUnderrun = 15,
};

// Frame bytes per channel for a sample rate in Hz (0 when below 44100).
int32_t DstBytesPerChannel(int32_t sampleRate);

// Bit reader over the frame bytes, most significant bit first.
struct DstBitReader {
    const uint8_t* data;  // the frame bytes (the caller's, valid during DecodeFrame)
    int64_t size;         // frame size in bytes
    int64_t position;     // index of the next bit
    int64_t totalBits;    // 8 × size
};

struct DstSegmentation {
    int32_t resolution;                                        // bytes
    int32_t segmentLength[kDstMaxChannels][kDstMaxSegments];   // in resolution units; last is 0
    int32_t segmentCount[kDstMaxChannels];
    int32_t tableNumber[kDstMaxChannels][kDstMaxSegments];
};

struct DstCodedTableParams {
    int32_t tableKind;  // 0 = filters, 1 = probability tables
    int32_t methodOrder[kDstMethods];
    int32_t methodCoef[kDstMethods][3];
    int32_t* coded;      // per table
    int32_t* method;     // per table, -1 when not coded
    int32_t* riceParam;  // per table and method
};

struct DstFrameDecoder {
    // Frame header.
    int32_t channels;
    int32_t filterCount;
    int32_t tableCount;
    int32_t predictionOrder[kDstMaxTables];
    int32_t tableLength[kDstMaxTables];
    int16_t* filterCoef;  // maxFilters × 128, taps beyond the order are 0
    int32_t dstCoded;
    int64_t frameBytes;
    int64_t frameBits;
    int32_t halfProb[kDstMaxChannels];
    int32_t halfProbBits[kDstMaxChannels];

    DstSegmentation filterSeg;
    DstSegmentation tableSeg;

    int32_t tablesUseFilterSegmentation;
    int32_t tablesUseFilterMapping;
    int32_t filterSegSameForAll;
    int32_t filterMapSameForAll;
    int32_t tableSegSameForAll;
    int32_t tableMapSameForAll;

    // Fixed at Init.
    int32_t maxFilters;
    int32_t maxTables;
    int32_t bytesPerChannel;  // F
    int32_t bytesPerFrame;    // F × channels
    int32_t bitsPerFrame;     // 8 × F × channels
    int32_t bitsPerChannel;   // N = 8 × F
    int32_t ready;            // 1 after a successful Init

    DstCodedTableParams filterParams;
    DstCodedTableParams tableParams;

    int32_t* probTables;  // maxTables × 64; entries past a table's length repeat its last entry
    uint8_t* probLut;     // maxTables × kDstProbLutSize (dst/DstBitLoop.h)
    uint8_t* history;     // per channel kDstFilterGroups + F bytes: the start history, then the decoded bytes
    int16_t* filterLut;   // maxFilters × kDstFilterLutStride (dst/DstBitLoop.h)

    // Arithmetic-coded part: its first bit within the frame and its length.
    int64_t arithStart;
    int64_t arithBits;

    DstBitReader reader;
};

// Zeroes the state and allocates its arrays. Returns 0, or 1 (channel count
// outside 1..6, rate outside 44100..11289600 Hz, allocation failure, or an
// illegal table kind; the last two with a message on standard error).
int32_t Init(DstFrameDecoder* state, int32_t channels, int32_t sampleRate);

// Decodes one frame into exactly F × channels output bytes. Returns 0 or a
// result code 1..15; on any failure the output holds F × channels bytes of
// 0x55. The input may be any bytes of any length.
int32_t DecodeFrame(DstFrameDecoder* state, const uint8_t* input, size_t inputSize, uint8_t* output);

// Frees what Init allocated; the state can be Init'ed again.
void Release(DstFrameDecoder* state);
