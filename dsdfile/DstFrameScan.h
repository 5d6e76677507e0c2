// Finding DST frames again after damage inside the "DST " sound data of a
// DSDIFF file, and judging a declared frame count against the data.
//
// A chunk header inside the DST data that is neither a usable "DSTF" nor a
// "DSTC" (a damaged byte, a size that overruns the data, a foreign chunk)
// would otherwise end the stream. The reader scans forward for the next
// plausible "DSTF" chunk: the ID, a size no frame exceeds, a chunk that fits
// the data, followed (after an optional pad byte) by the end of the data or
// by another "DSTF" or "DSTC" header. The frames between are counted as lost
// from the bytes skipped and the mean frame chunk size seen so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Reads up to `count` bytes at `position`; returns the bytes read.
using DstReadAtFn = std::function<size_t(int64_t position, uint8_t* buffer, size_t count)>;

// Position of the next plausible "DSTF" header in [from, end), or -1.
// `maxFrame` bounds the body size of a frame.
int64_t FindNextDstFrame(const DstReadAtFn& readAt, int64_t from, int64_t end, uint64_t maxFrame);

// Frames lost in `skipped` bytes, given the bytes and frame count of the
// frame chunks read so far: the skip in mean frame chunks, rounded (1 when no
// frame was read yet). A skip over the rest of a frame whose size was
// damaged short rounds to 0.
uint64_t DstFramesLost(uint64_t skipped, uint64_t bytesSeen, uint64_t framesSeen);

// Whether `count` frames can be what `dataLength` bytes of DST data hold:
// each frame takes at least a 12-byte header and at most a chunk of
// `maxFrameChunk` bytes (plus its checksum chunk).
bool DstFrameCountPlausible(uint64_t count, uint64_t dataLength, uint64_t maxFrameChunk);
