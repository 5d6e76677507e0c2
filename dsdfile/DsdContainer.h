// CDsdContainer: one container format (DSF, DSDIFF, a disc-image track) as a
// source of DSD bytes for CDSDFile.
//
// A container recognises its format on the reader, fills the source format
// record, and then delivers the audio bytes in one of two layouts:
//   * block-planar: groups of BlockSizePerChannel() bytes per channel, one
//     channel after the other (Fill is always asked for whole groups);
//   * byte-interleaved (BlockSizePerChannel() == 1): one byte of every
//     channel per frame (Fill is asked for whole frames).
// CDSDFile turns those bytes into the output forms (native, packed, PCM).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dsdfile/CAudioFormat.h"
#include "plugin/kwapi/IKwReader.h"
#include "tags/KwXMLFilename.h"

// Values that the caller reads from the settings and hands down at open.
struct CDsdOpenOptions {
    int32_t dstThreads = 0;    // "DST Decoding Threads": below 1 automatic
    uint32_t lowPassMode = 0;  // "Low-pass mode": 0 Safe .. 3 Off
    // The caller reads no audio (file information): no PCM conversion context
    // is taken, so the two settings above do not matter and need not be read.
    bool headerOnly = false;
};

class CDsdContainer {
public:
    virtual ~CDsdContainer() = default;

    // Recognises the format on `reader` (borrowed; it outlives the container)
    // and fills `format` (bits per sample, rate, channels). False when the
    // bytes are not this format or cannot be delivered.
    virtual bool Open(IKwReader* reader, const KwXMLFilename& fileName, const CDsdOpenOptions& options,
                      CAudioFormat& format) = 0;

    // Layout of the delivered bytes (see above) and their bit order.
    virtual size_t BlockSizePerChannel() const { return 1; }
    virtual bool LsbFirst() const { return false; }

    // Puts up to `count` source bytes at `destination` and returns how many
    // arrived; 0 at the end. Fewer than asked only at the end of the audio.
    virtual size_t Fill(uint8_t* destination, size_t count) = 0;
    // Frames per channel that are audio in `group`, the last whole group that
    // Fill just delivered (a planar format may pad the data's last group).
    virtual size_t GroupFrames(const uint8_t* /*group*/) const { return BlockSizePerChannel(); }

    // Moves to a time in milliseconds (negative and NaN: the start; past the
    // end: the next Fill returns 0).
    virtual bool Seek(double milliseconds) = 0;
    virtual double Duration() const = 0;

    // The audio bytes as they lie in the file; length 0 when the container
    // has no such window (disc-image tracks).
    virtual int64_t DataStart() const { return 0; }
    virtual int64_t DataLength() const { return 0; }
    virtual bool IsDiscImage() const { return false; }
};

// One implementation per format; each file defines its factory.
std::unique_ptr<CDsdContainer> MakeDsfContainer();
std::unique_ptr<CDsdContainer> MakeDsdiffContainer();
std::unique_ptr<CDsdContainer> MakeSacdTrackContainer();

// Byte position of `milliseconds` in a stream of `bytesPerSecond`, rounded to
// the nearest byte and aligned down to `alignment`; 0 for negative times and
// NaN; false (with `position` untouched) at or past `limit` bytes.
bool BytePositionOfTime(double milliseconds, uint32_t bytesPerSecond, uint32_t alignment, double limit,
                        int64_t& position);
