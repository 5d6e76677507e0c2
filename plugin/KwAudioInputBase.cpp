#include "plugin/KwAudioInputBase.h"

#include <algorithm>
#include <cstring>

KwAudioInputBase::~KwAudioInputBase() { DestroyReader(); }

void KwAudioInputBase::DestroyReader() {
    KwDestroy(reader_);
    reader_ = nullptr;
}

int32_t KwAudioInputBase::GetInfo(int32_t code, IKwDllString* result) {
    if (code == 2 && result) {
        result->SetText(KW_T("Unknown input plug-in"), -1);
        return 0;
    }
    return -1;
}

int32_t KwAudioInputBase::ResetBuffer() {
    bufferFill_ = 0;
    readOffset_ = 0;
    endOfData_ = 0;
    return 0;
}

// Copies buffered bytes, refilling through FillBuffer until the request is met
// or the input ends; the last `heldBack_` bytes of the buffer stay in place.
int32_t KwAudioInputBase::Read(void* destination, int32_t count) {
    auto* out = static_cast<uint8_t*>(destination);
    int32_t done = 0;
    while (done < count && !endOfData_ && buffer_) {
        const int32_t available = bufferFill_ - heldBack_ - readOffset_;
        if (available > 0) {
            const int32_t n = std::min(available, count - done);
            std::memcpy(out + done, buffer_.get() + readOffset_, static_cast<size_t>(n));
            readOffset_ += n;
            done += n;
            continue;
        }
        readOffset_ = 0;
        const int32_t filled = FillBuffer();
        if (filled <= 0) {
            // A refill that brought nothing ends this read; the end of the data
            // is marked unless the input asked to keep reading.
            if (!keepReading_) endOfData_ = 1;
            break;
        }
    }
    return done;
}
