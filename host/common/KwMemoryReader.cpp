#include "host/common/KwMemoryReader.h"

#include <cstring>

#include "host/common/KwFileReader.h"

KwMemoryReader::KwMemoryReader(std::vector<uint8_t> bytes)
    : bytes_(std::make_shared<const std::vector<uint8_t>>(std::move(bytes))) {
    open_ = 1;
}

KwMemoryReader::KwMemoryReader(std::shared_ptr<const std::vector<uint8_t>> bytes)
    : bytes_(bytes ? std::move(bytes) : std::make_shared<const std::vector<uint8_t>>()) {
    open_ = 1;
}

bool KwMemoryReader::Open() {
    aborted_ = false;
    position_ = 0;
    return true;
}

void KwMemoryReader::Abort() { aborted_ = true; }

int32_t KwMemoryReader::Read(void* buffer, int32_t count) {
    if (aborted_ || !buffer || count <= 0) return 0;
    const int64_t size = static_cast<int64_t>(bytes_->size());
    if (position_ >= size) return 0;
    const int64_t n = size - position_ < count ? size - position_ : count;
    std::memcpy(buffer, bytes_->data() + position_, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int32_t>(n);
}

int32_t KwMemoryReader::Write(const void*, int32_t) { return -1; }

int64_t KwMemoryReader::GetSize() { return static_cast<int64_t>(bytes_->size()); }

int64_t KwMemoryReader::GetPosition() { return position_; }

int64_t KwMemoryReader::Seek(int64_t offset, int32_t origin) {
    const int64_t target = KwSeekTarget(position_, GetSize(), offset, origin);
    if (target < 0) return -1;
    position_ = target;
    return position_;
}

bool KwMemoryReader::Truncate() { return false; }

bool KwMemoryReader::HasCapability(int32_t capability) { return capability == kKwCapabilityAbort; }
