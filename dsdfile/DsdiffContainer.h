// DSDIFF container: "FRM8"/"DSD " with its PROP properties, and the audio
// either as plain byte-interleaved bytes ("DSD " chunk) or as DST-coded frames
// ("DST " chunk: "FRTE", then "DSTF" frames and optional "DSTC" CRCs), which a
// CDstStream decodes.
//
// Chunk padding: the format pads odd-sized chunks with one byte that the size
// does not count, but some writers leave it out. After an odd-sized chunk the
// parser looks at what follows: a chunk ID (four printable characters) right
// after the body means no pad byte; otherwise the pad byte is skipped.
#pragma once

#include <memory>

#include "dsdfile/DsdWindowContainer.h"
#include "dst/DstStream.h"

class CDsdiffContainer final : public CDsdWindowContainer, private CDstFrameSource {
public:
    CDsdiffContainer();
    ~CDsdiffContainer() override;

    bool Open(IKwReader* reader, const KwXMLFilename& fileName, const CDsdOpenOptions& options,
              CAudioFormat& format) override;
    size_t Fill(uint8_t* destination, size_t count) override;
    bool Seek(double milliseconds) override;
    double Duration() const override;

    bool IsDst() const { return dst_ != nullptr; }

private:
    // CDstFrameSource over the "DSTF"/"DSTC" chunks of the data window.
    Next ReadFrame(KwByteBuffer& frame) override;
    bool SkipFrame() override;
    int64_t Position() const override;
    bool SetPosition(int64_t position) override;

    bool ParseProperties(const uint8_t* body, size_t size, bool& compressionKnown, bool& dst);

    // One step through the DST data: kFrame leaves the reader after the
    // header of a "DSTF" chunk that lies whole in the data (`start` and
    // `size` describe it); kOther has passed over a checksum or foreign chunk
    // or, after damage, moved to the next plausible frame and set lostFrames_;
    // kEnd: no further frame (the reader stays before what ended the data).
    enum class Step { kFrame, kOther, kEnd };
    Step NextStep(uint8_t* header, int64_t& start, uint64_t& size);
    // Largest "DSTF" body taken as a frame.
    uint64_t MaxFrameBody() const;
    // Frames from the reader's position to the end of the data; the reader
    // returns to where it was.
    uint32_t CountFrames();

    uint32_t frameCount_ = 0;
    uint64_t frameBytes_ = 0;       // decoded bytes of one frame
    uint64_t lostFrames_ = 0;       // frames still to report as damaged after a resynchronisation
    uint64_t framesSeen_ = 0;       // frame chunks passed so far, and their bytes (for the mean size)
    uint64_t frameChunkBytes_ = 0;
    std::unique_ptr<CDstStream> dst_;
};

// Where the chunk after a body ending at `end` begins: `end` or `end + 1` for
// an odd-sized body (see above), `end` otherwise. `next` holds up to five bytes
// from `end` on (`available` of them).
uint64_t DsdiffNextChunk(uint64_t end, uint64_t bodySize, const uint8_t* next, size_t available);
