// CDSDFile: one opened DSD source (DSF, DSDIFF or a disc-image track) with its
// source and output format records, sample delivery, seeking and tag saving.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dsdfile/CAudioFormat.h"
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

class CSacdIso;

class CDSDFile {
public:
    // Pooled decimators and low-pass filters for PCM output (defined in pcm/).
    class CConvertToPCMContext;

    CDSDFile();
    ~CDSDFile();
    CDSDFile(const CDSDFile&) = delete;
    CDSDFile& operator=(const CDSDFile&) = delete;

    bool Open(IKwReader* reader, uint8_t readerOwned, uint32_t outputModes, int32_t highestDsdRate,
              const KwXMLFilename& fileName);
    bool Close();
    // Writes up to `frames` output frames; returns the bytes written (0 at the end).
    uint32_t ReadSamples(void* destination, uint32_t frames);
    bool Seek(double milliseconds);
    double GetDuration() const;
    // Replaces, appends (or, with an empty block, removes) the ID3v2 tag of a DSF file.
    bool SaveTag(const uint8_t* tag, size_t size);

    // Read-only views used by the input source and the file-information object.
    const CAudioFormat& SourceFormat() const { return sourceFormat_; }
    const CAudioFormat& OutputFormat() const { return outputFormat_; }
    int64_t DataStart() const { return dataStart_; }
    int64_t DataLength() const { return dataLength_; }
    IKwReader* Reader() const { return reader_; }
    bool IsDiscImage() const;
    // Container magic of the file's first chunk ("DSD " for DSF); zero when none.
    const uint8_t* DsfHeader() const { return dsfHeader_; }
    uint64_t MetadataOffset() const;

    void SetAdd6dB(bool on) { add6dB_ = on ? 1 : 0; }
    bool Add6dB() const { return add6dB_ != 0; }

private:
    // What Open recognised; selects the container-specific branches of the
    // read, seek and duration operations.
    enum class SourceKind : uint8_t { kNone, kDsf, kDsdiff, kDsdiffDst, kSacd };

    // State of a DST-coded DSDIFF stream (defined with the DSDIFF container).
    struct CDstStreamState;

    bool ReaderReady() const;
    void ReleaseReader();
    void ChooseOutputFormat(uint32_t outputModes, int32_t highestDsdRate);
    void BuildSpeakerMap();
    // Puts up to `count` source bytes into the block buffer; returns how many arrived.
    size_t FillBlockFromReader(size_t count);
    uint32_t DeliverBlockPlanar(void* destination, size_t obtained, int64_t remaining);
    uint32_t DeliverInterleaved(void* destination, size_t obtained);
    uint32_t OutputBytes(uint64_t frames) const;

    // DSF container (Dsf.cpp).
    bool OpenDsf();

    // DSDIFF container (Dsdiff*.cpp): recognition after the 16 bytes of
    // "FRM8", size and "DSD "; DST-decoded bytes into the block buffer; seeking
    // to a byte position of the decoded stream; duration; state destruction.
    bool OpenDsdiff();
    size_t FillBlockFromDst(size_t count);
    bool SeekDst(int64_t bytePosition);
    double DstDuration() const;
    void DestroyDstStream();

    // Disc-image track (sacd/ glue): open track `track` (1-based) of the image
    // on the reader; track bytes into the block buffer; seek; duration; image
    // destruction.
    bool OpenSacdTrack(int32_t track);
    size_t FillBlockFromSacd(size_t count);
    bool SeekSacd(double milliseconds);
    double SacdDuration() const;
    void DestroySacd();

    IKwReader* reader_ = nullptr;
    uint32_t readerOwned_ = 1;
    int64_t dataStart_ = 0;
    int64_t dataLength_ = 0;
    CAudioFormat sourceFormat_;
    CAudioFormat outputFormat_;
    CConvertToPCMContext* convertContext_ = nullptr;
    KwByteBuffer blockBuffer_;
    uint8_t lsbFirst_ = 0;
    int32_t blockSizePerChannel_ = 0;
    uint8_t bitReverse_[256] = {};
    uint8_t dsfHeader_[28] = {};
    CSacdIso* sacd_ = nullptr;
    uint32_t sacdOwned_ = 1;
    CDstStreamState* dstStream_ = nullptr;
    uint32_t dstStreamOwned_ = 1;
    uint8_t add6dB_ = 0;

    SourceKind sourceKind_ = SourceKind::kNone;
    // Output slot -> source channel feeding it (-1: silence).
    int8_t speakerMap_[kAudioFormatMaxChannels] = {};
};
