// CDsdWindowContainer: the common part of containers whose audio is one
// window of plain bytes in the file (DSF, uncompressed DSDIFF). The reader
// position is the stream's cursor; reads, seeks and the duration are bounded
// by the window.
#pragma once

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

protected:
    // Bytes of the window after the reader position (0 outside it).
    int64_t Remaining() const;

    IKwReader* reader_ = nullptr;
    CAudioFormat* format_ = nullptr;  // the record Open filled (owned by the caller)
    int64_t dataStart_ = 0;
    int64_t dataLength_ = 0;
    size_t blockSizePerChannel_ = 1;
    bool lsbFirst_ = false;
    // The last Fill delivered the window's final bytes.
    bool reachedEnd_ = false;
};
