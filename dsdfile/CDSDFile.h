// CDSDFile: one opened DSD source (DSF, DSDIFF or a disc-image track) with its
// source and output format records, sample delivery, seeking and tag saving.
// The container (CDsdContainer) supplies the source bytes; this object turns
// them into the output form: native DSD, DSD packed into 64-bit frames, or PCM.
#pragma once

#include <cstdint>
#include <memory>

#include "dsdfile/CAudioFormat.h"
#include "dsdfile/DsdContainer.h"
#include "plugin/kwapi/IKwReader.h"
#include "support/KwByteBuffer.h"
#include "tags/KwXMLFilename.h"

// Output-mode bits set by the host (information code 31).
constexpr uint32_t kOutputNativeDsd = 1u << 0;
constexpr uint32_t kOutputPackedDsdA = 1u << 1;
constexpr uint32_t kOutputPackedDsdB = 1u << 2;

// The DSD silence pattern and the byte that replaces an undecodable DST frame.
constexpr uint8_t kDsdSilenceByte = 0x69;
constexpr uint8_t kDstErrorByte = 0x55;

// Pooled decimators and low-pass filters for PCM output (defined in pcm/).
class CConvertToPCMContext;
class CDsfContainer;

class CDSDFile {
public:
    using CConvertToPCMContext = ::CConvertToPCMContext;

    CDSDFile();
    ~CDSDFile();
    CDSDFile(const CDSDFile&) = delete;
    CDSDFile& operator=(const CDSDFile&) = delete;

    // `options` carries the settings the caller has read (DST threads, low-pass mode).
    bool Open(IKwReader* reader, uint8_t readerOwned, uint32_t outputModes, int32_t highestDsdRate,
              const KwXMLFilename& fileName, const CDsdOpenOptions& options = {});
    bool Close();
    // Writes up to `frames` output frames; returns the bytes written (0 at the end).
    uint32_t ReadSamples(void* destination, uint32_t frames);
    // Writes up to `count` output bytes, also parts of a frame: output that
    // does not fit is kept for the next call. Returns the bytes written; fewer
    // than asked only at the end.
    uint32_t ReadBytes(void* destination, uint32_t count);
    bool Seek(double milliseconds);
    double GetDuration() const;
    // Replaces, appends (or, with an empty block, removes) the ID3v2 tag of a DSF file.
    bool SaveTag(const uint8_t* tag, size_t size);

    // Read-only views used by the input source and the file-information object.
    const CAudioFormat& SourceFormat() const { return sourceFormat_; }
    const CAudioFormat& OutputFormat() const { return outputFormat_; }
    int64_t DataStart() const { return container_ ? container_->DataStart() : 0; }
    int64_t DataLength() const { return container_ ? container_->DataLength() : 0; }
    IKwReader* Reader() const { return reader_; }
    bool IsDiscImage() const { return container_ && container_->IsDiscImage(); }
    // The "DSD " chunk of a DSF file (zero bytes for other files).
    const uint8_t* DsfHeader() const;
    uint64_t MetadataOffset() const;
    // A DSF file's size as its headers were read, so that the tag that
    // follows is read without asking for it again (-1: none).
    int64_t DsfFileSize() const;

    void SetAdd6dB(bool on) { add6dB_ = on ? 1 : 0; }
    bool Add6dB() const { return add6dB_ != 0; }

private:
    bool ReaderReady() const;
    void ReleaseReader();
    void ChooseOutputFormat(uint32_t outputModes, int32_t highestDsdRate);
    void BuildSpeakerMap();
    // Bytes of one output frame, and of `frames` of them.
    size_t OutputFrameBytes() const;
    uint32_t OutputBytes(uint64_t frames) const;
    // Makes the output of up to `frames` output frames at `destination`
    // (at least one group for planar sources); returns the bytes, 0 at the end.
    size_t Produce(void* destination, uint64_t frames);
    // Brings `frames` frames per channel of source bytes into the output form;
    // channel c's byte k is at source[c * channelOffset + k * stride].
    size_t Deliver(void* destination, const uint8_t* source, size_t frames, size_t channelOffset,
                   size_t stride);

    IKwReader* reader_ = nullptr;
    uint32_t readerOwned_ = 1;
    std::unique_ptr<CDsdContainer> container_;
    CDsfContainer* dsf_ = nullptr;  // container_ when it is a DSF file
    CAudioFormat sourceFormat_;
    CAudioFormat outputFormat_;
    CConvertToPCMContext* convertContext_ = nullptr;
    KwByteBuffer blockBuffer_;  // source bytes of one production
    KwByteBuffer pending_;      // output made but not yet delivered
    size_t pendingOffset_ = 0;
    const uint8_t* bitReverse_ = nullptr;
    uint8_t add6dB_ = 0;
    // Output slot -> source channel feeding it (-1: silence).
    int8_t speakerMap_[kAudioFormatMaxChannels] = {};
};
