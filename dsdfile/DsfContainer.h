// DSF container: the "DSD ", "fmt " and "data" chunks, block-planar audio
// (least significant bit first), and the ID3v2 tag at the file's end.
#pragma once

#include "dsdfile/DsdWindowContainer.h"

class CDsfContainer final : public CDsdWindowContainer {
public:
    static constexpr size_t kHeaderSize = 28;

    bool Open(IKwReader* reader, const KwXMLFilename& fileName, const CDsdOpenOptions& options,
              CAudioFormat& format) override;
    // The last group of the data is padded with zero bytes: they are not audio.
    size_t GroupFrames(const uint8_t* group) const override;

    // The "DSD " chunk as last read or written.
    const uint8_t* Header() const { return header_; }
    uint64_t MetadataOffset() const;
    // The file's size as the headers were read (-1 before).
    int64_t OpenedFileSize() const { return openedFileSize_; }
    // Replaces, appends (or, with an empty block, removes) the ID3v2 tag.
    bool SaveTag(const uint8_t* tag, size_t size);

private:
    uint8_t header_[kHeaderSize] = {};
    int64_t openedFileSize_ = -1;
};
