#include "dsdfile/DsdWindowContainer.h"

#include <algorithm>
#include <cstring>

#include "dsdfile/ReaderIo.h"

int64_t CDsdWindowContainer::Cursor() const {
    const int64_t position = reader_->GetPosition();
    if (position >= 0 && position == aheadReaderAt_) return position - static_cast<int64_t>(aheadEnd_ - aheadUsed_);
    return position;
}

int64_t CDsdWindowContainer::Remaining() const {
    return std::clamp<int64_t>(dataStart_ + dataLength_ - Cursor(), 0, dataLength_);
}

size_t CDsdWindowContainer::ReadAhead(uint8_t* destination, size_t count) {
    const int64_t position = reader_->GetPosition();
    if (position < 0 || position != aheadReaderAt_) aheadUsed_ = aheadEnd_ = 0;  // the reader was moved
    // A reader without a position cannot tell a move: no reading ahead.
    if (position < 0) return ReadAll(reader_, destination, count);
    size_t done = std::min(count, aheadEnd_ - aheadUsed_);
    if (done > 0) std::memcpy(destination, ahead_.data() + aheadUsed_, done);
    aheadUsed_ += done;
    if (done == count) return done;
    // Large requests go straight to the destination; small ones refill the buffer.
    const size_t rest = count - done;
    if (rest >= kReadAhead) {
        aheadUsed_ = aheadEnd_ = 0;
        aheadReaderAt_ = -1;
        return done + ReadAll(reader_, destination + done, rest);
    }
    const int64_t windowLeft = std::max<int64_t>(dataStart_ + dataLength_ - position, 0);
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kReadAhead), windowLeft));
    // The buffer grows to what the window can fill: a short file does not
    // allocate (and zero) the whole read-ahead on every open.
    const size_t fill = std::max(want, rest);
    if (ahead_.size() < fill) ahead_.resize(fill);
    aheadEnd_ = ReadAll(reader_, ahead_.data(), fill);
    aheadUsed_ = std::min(rest, aheadEnd_);
    aheadReaderAt_ = reader_->GetPosition();
    if (aheadUsed_ > 0) std::memcpy(destination + done, ahead_.data(), aheadUsed_);
    return done + aheadUsed_;
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
    const size_t got = ReadAhead(destination, wanted);
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
    aheadUsed_ = aheadEnd_ = 0;
    aheadReaderAt_ = -1;
    return reader_->Seek(dataStart_ + position, kKwSeekBegin) >= 0;
}

double CDsdWindowContainer::Duration() const {
    const uint32_t bytesPerSecond = format_ ? format_->AvgBytesPerSec() : 0;
    if (bytesPerSecond == 0) return 0.0;
    return static_cast<double>(dataLength_) * 1000.0 / bytesPerSecond;
}
