#include "dsdfile/DsdWindowContainer.h"

#include <algorithm>

#include "dsdfile/ReaderIo.h"

int64_t CDsdWindowContainer::Remaining() const {
    const int64_t position = reader_->GetPosition();
    return std::clamp<int64_t>(dataStart_ + dataLength_ - position, 0, dataLength_);
}

size_t CDsdWindowContainer::Fill(uint8_t* destination, size_t count) {
    reachedEnd_ = false;
    if (!reader_) return 0;
    const int64_t remaining = Remaining();
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(count, static_cast<uint64_t>(remaining)));
    // A planar source is asked for whole groups; a shorter delivery is the
    // last group of a file cut short, which the caller plays as far as every
    // channel reaches.
    if (wanted < 1) return 0;
    const size_t got = ReadAll(reader_, destination, wanted);
    reachedEnd_ = static_cast<int64_t>(got) == remaining;
    return got;
}

bool CDsdWindowContainer::Seek(double milliseconds) {
    if (!reader_ || !format_) return false;
    const int64_t group =
        int64_t{std::max<uint16_t>(format_->Channels(), 1)} * static_cast<int64_t>(blockSizePerChannel_);
    int64_t position = dataLength_;  // past the end: the next read returns 0
    if (BytePositionOfTime(milliseconds, format_->AvgBytesPerSec(), format_->BlockAlign(),
                           static_cast<double>(dataLength_), position))
        position -= position % group;
    reachedEnd_ = false;
    return reader_->Seek(dataStart_ + position, kKwSeekBegin) >= 0;
}

double CDsdWindowContainer::Duration() const {
    const uint32_t bytesPerSecond = format_ ? format_->AvgBytesPerSec() : 0;
    if (bytesPerSecond == 0) return 0.0;
    return static_cast<double>(dataLength_) * 1000.0 / bytesPerSecond;
}
