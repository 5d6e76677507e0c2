// CDsdWindowContainer: the common part of containers whose audio is one
// window of plain bytes in the file (DSF, uncompressed DSDIFF). The reader
// position is the stream's cursor; reads, seeks and the duration are bounded
// by the window.
#pragma once

#include <vector>

#include "dsdfile/DsdContainer.h"

class CDsdWindowContainer : public CDsdContainer {
public:
    size_t BlockSizePerChannel() const override { return blockSizePerChannel_; }
    bool LsbFirst() const override { return lsbFirst_; }
    size_t Fill(uint8_t* destination, size_t count) override;
    bool Seek(double milliseconds) override;
    double Duration() const override;
    int64_t DataStart() const override { return dataStart_; }
    int64_t DataLength() const override { return dataLength_; }

    // Bytes the reader is asked for at once when Fill wants fewer.
    static constexpr size_t kReadAhead = size_t{256} << 10;

protected:
    // Bytes of the window after the stream's cursor (0 outside it).
    int64_t Remaining() const;
    // The stream's cursor: the reader position less what is read ahead.
    int64_t Cursor() const;
    // Copies count bytes at the cursor (count <= Remaining()), reading the
    // window ahead in pieces of kReadAhead; returns the bytes copied.
    size_t ReadAhead(uint8_t* destination, size_t count);

    IKwReader* reader_ = nullptr;
    CAudioFormat* format_ = nullptr;  // the record Open filled (owned by the caller)
    int64_t dataStart_ = 0;
    int64_t dataLength_ = 0;
    size_t blockSizePerChannel_ = 1;
    bool lsbFirst_ = false;
    // The last Fill delivered the window's final bytes.
    bool reachedEnd_ = false;
    // Bytes read ahead: ahead_[aheadUsed_ … aheadEnd_) lie just before the
    // reader position aheadReaderAt_. When anything else moves the reader,
    // they are dropped.
    std::vector<uint8_t> ahead_;
    size_t aheadUsed_ = 0;
    size_t aheadEnd_ = 0;
    int64_t aheadReaderAt_ = -1;
};
