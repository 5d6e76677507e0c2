#include "dst/DstStream.h"

#include <algorithm>
#include <cstring>

CDstStream::CDstStream(CDstFrameSource& source, uint32_t channels, uint32_t sampleRate, int32_t threadSetting,
                       uint64_t frameCount)
    : source_(source),
      channels_(channels),
      sampleRate_(sampleRate),
      threadSetting_(threadSetting),
      frameCount_(frameCount),
      frameBytes_(static_cast<size_t>(sampleRate / 600) * channels),
      start_(source.Position()) {}

CDstStream::~CDstStream() = default;

void CDstStream::Fill(size_t wanted) {
    while (queue_.Size() < wanted) {
        frame_.Clear();
        const CDstFrameSource::Next next = source_.ReadFrame(frame_);
        if (next == CDstFrameSource::Next::kEnd) break;
        // A damaged frame goes in empty: it decodes to one frame of the error
        // pattern, so the stream keeps its length and its timing.
        if (next == CDstFrameSource::Next::kDamaged) frame_.Clear();
        if (!decoder_) decoder_ = std::make_unique<CDstDecoder>(channels_, sampleRate_, threadSetting_);
        if (!decoder_->SubmitFrame(frame_)) break;
        decoder_->FetchDecoded(queue_, false);
    }
    // The frames have run out (or ended at an unreadable one): wait for
    // every frame still in work.
    if (queue_.Size() < wanted && decoder_) decoder_->FetchDecoded(queue_, true);
}

size_t CDstStream::Read(uint8_t* destination, size_t count) {
    if (queue_.Size() < count) Fill(count);
    const size_t take = std::min(count, queue_.Size());
    if (take > 0) std::memcpy(destination, queue_.Data(), take);
    queue_.Consume(take);
    return take;
}

uint64_t CDstStream::FrameOfByte(uint64_t bytePosition) const {
    return frameBytes_ == 0 ? 0 : bytePosition / frameBytes_;
}

bool CDstStream::SeekFrame(uint64_t frame) {
    decoder_.reset();
    queue_.Clear();
    uint64_t skipped = 0;
    int64_t position = start_;
    const uint64_t known = std::min<uint64_t>(frame / kCheckpointFrames, checkpoints_.size());
    if (known > 0) {
        position = checkpoints_[known - 1];
        skipped = known * kCheckpointFrames;
    }
    if (!source_.SetPosition(position)) return false;
    while (skipped < frame && source_.SkipFrame()) {
        ++skipped;
        if (skipped % kCheckpointFrames == 0 && skipped / kCheckpointFrames == checkpoints_.size() + 1)
            checkpoints_.push_back(source_.Position());
    }
    return true;
}
