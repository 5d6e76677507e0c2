// CDstStream: a DST-coded stream as a source of decoded DSD bytes.
//
// The container supplies the coded frames through CDstFrameSource (a DSDIFF
// file walks its "DSTF" chunks, a disc image its audio sectors); the stream
// feeds them to a CDstDecoder, queues the decoded bytes in stream order,
// replaces frames the source reports as damaged by one frame of the error
// pattern, and seeks by skipping whole frames, remembering the source
// position every kCheckpointFrames frames so that later seeks start nearer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dst/DstPipeline.h"
#include "support/KwByteBuffer.h"

class CDstFrameSource {
public:
    enum class Next { kFrame, kDamaged, kEnd };

    virtual ~CDstFrameSource() = default;
    // Puts the next frame's coded bytes into `frame` (kFrame); kDamaged when a
    // frame is there but unusable (the source has moved past it); kEnd when
    // no further frame can be read (the source stays where it is).
    virtual Next ReadFrame(KwByteBuffer& frame) = 0;
    // Moves past the next frame without reading its bytes; false at the end.
    virtual bool SkipFrame() = 0;
    // An opaque position of the source before its next frame, and a return
    // to such a position.
    virtual int64_t Position() const = 0;
    virtual bool SetPosition(int64_t position) = 0;
};

class CDstStream {
public:
    static constexpr uint64_t kCheckpointFrames = 75;

    // `source` must outlive the stream and stand before its first frame.
    // `threadSetting` follows the "DST Decoding Threads" rules (below 1:
    // automatic). `frameCount` is the declared number of frames (duration).
    CDstStream(CDstFrameSource& source, uint32_t channels, uint32_t sampleRate, int32_t threadSetting,
               uint64_t frameCount);
    ~CDstStream();
    CDstStream(const CDstStream&) = delete;
    CDstStream& operator=(const CDstStream&) = delete;

    // Copies up to `count` decoded bytes to `destination`, decoding frames as
    // needed; fewer only at the end of the frames; 0 at the end.
    size_t Read(uint8_t* destination, size_t count);
    // Drops the decoder and the queued bytes and places the source after
    // `frame` frames (or at its end). Decoding resumes at that frame.
    bool SeekFrame(uint64_t frame);
    // Frame that decoding would resume at after SeekFrame (bytes / frame size).
    uint64_t FrameOfByte(uint64_t bytePosition) const;
    size_t FrameBytes() const { return frameBytes_; }
    uint64_t FrameCount() const { return frameCount_; }

private:
    void Fill(size_t wanted);

    CDstFrameSource& source_;
    const uint32_t channels_;
    const uint32_t sampleRate_;
    const int32_t threadSetting_;
    const uint64_t frameCount_;
    const size_t frameBytes_;
    std::unique_ptr<CDstDecoder> decoder_;  // made by the first read, dropped by every seek
    KwByteBuffer queue_;                    // decoded bytes in stream order
    KwByteBuffer frame_;                    // one frame on its way to the decoder (exchanged)
    int64_t start_ = 0;                     // source position before the first frame
    // checkpoints_[i]: the source position after (i + 1) × kCheckpointFrames frames.
    std::vector<int64_t> checkpoints_;
};
