#include "dsdfile/DsfContainer.h"

#include <algorithm>
#include <cstring>

#include "dsdfile/DsdRates.h"
#include "dsdfile/ReaderIo.h"

namespace {

constexpr size_t kDsdChunkSize = 28;
constexpr size_t kFmtChunkRead = 52;
constexpr size_t kDataHeaderSize = 12;
// Bounds that no real file comes near; they keep hostile headers from asking
// for absurd block buffers.
constexpr uint64_t kMaxBlockGroupBytes = uint64_t{1} << 26;
constexpr int32_t kMaxWriteChunk = 1 << 30;

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint64_t ReadLe64(const uint8_t* p) { return ReadLe32(p) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32; }

void WriteLe64(uint8_t* p, uint64_t value) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::unique_ptr<CDsdContainer> MakeDsfContainer() { return std::make_unique<CDsfContainer>(); }

uint64_t CDsfContainer::MetadataOffset() const {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | header_[20 + i];
    return value;
}

size_t CDsfContainer::GroupFrames(const uint8_t* group) const {
    size_t frames = blockSizePerChannel_;
    if (!reachedEnd_ || !format_) return frames;
    // The group ends the data: drop the zero padding of the last blocks.
    for (size_t c = 0; c < format_->Channels(); ++c)
        while (frames > 0 && group[c * blockSizePerChannel_ + frames - 1] == 0) --frames;
    return frames;
}

bool CDsfContainer::Open(IKwReader* reader, const KwXMLFilename&, const CDsdOpenOptions&, CAudioFormat& format) {
    reader_ = reader;
    format_ = &format;
    std::memset(header_, 0, sizeof(header_));
    openedFileSize_ = -1;
    if (reader_->Seek(0, kKwSeekBegin) != 0) return false;
    // The three headers in one read: with the usual fmt chunk size the data
    // chunk's header follows at once.
    uint8_t head[kDsdChunkSize + kFmtChunkRead + kDataHeaderSize] = {};
    const size_t got = ReadAll(reader_, head, sizeof(head));
    std::memcpy(header_, head, kDsdChunkSize);
    if (std::memcmp(header_, "DSD ", 4) != 0) return false;

    const uint8_t* fmt = head + kDsdChunkSize;
    if (got < kDsdChunkSize + kFmtChunkRead || std::memcmp(fmt, "fmt ", 4) != 0) return false;
    const int64_t fileSize = reader_->GetSize();
    if (fileSize <= 0) return false;
    openedFileSize_ = fileSize;
    // The fmt chunk cannot be shorter than what was read, nor reach past the file.
    const uint64_t fmtSize = ReadLe64(fmt + 4);
    if (fmtSize < kFmtChunkRead || fmtSize - kFmtChunkRead > static_cast<uint64_t>(fileSize)) return false;
    const auto dataHeader = static_cast<int64_t>(kDsdChunkSize + fmtSize);
    if (fmtSize > kFmtChunkRead && reader_->Seek(dataHeader, kKwSeekBegin) != dataHeader) return false;

    const uint32_t channels = ReadLe32(fmt + 24);
    const uint32_t rate = ReadLe32(fmt + 28);
    const uint32_t bits = ReadLe32(fmt + 32);
    const uint32_t blockSize = ReadLe32(fmt + 44);
    if (channels < 1 || channels > kAudioFormatMaxChannels || !IsDsdRate(rate) || bits < 1 || bits > 64) return false;
    const uint32_t blockSizePerChannel = blockSize > 1 ? blockSize : 1;
    if (uint64_t{blockSizePerChannel} * channels > kMaxBlockGroupBytes) return false;
    format.SetUp(static_cast<uint16_t>(bits), rate, static_cast<uint16_t>(channels), 0, false, kGuidNull);

    uint8_t data[kDataHeaderSize] = {};
    if (fmtSize == kFmtChunkRead) {
        if (got < sizeof(head)) return false;
        std::memcpy(data, head + kDsdChunkSize + kFmtChunkRead, sizeof(data));
    } else if (ReadAll(reader_, data, sizeof(data)) < sizeof(data)) {
        return false;
    }
    if (std::memcmp(data, "data", 4) != 0) return false;
    const int64_t start = reader_->GetPosition();
    if (start < 0 || start > fileSize) return false;
    const uint64_t dataChunkSize = ReadLe64(data + 4);
    const uint64_t declared = dataChunkSize > kDataHeaderSize ? dataChunkSize - kDataHeaderSize : 0;
    dataStart_ = start;
    dataLength_ = static_cast<int64_t>(std::min<uint64_t>(declared, static_cast<uint64_t>(fileSize - start)));

    blockSizePerChannel_ = blockSizePerChannel;
    lsbFirst_ = true;
    return true;
}

bool CDsfContainer::SaveTag(const uint8_t* tag, size_t size) {
    if (!reader_ || !reader_->IsOpen() || std::memcmp(header_, "DSD ", 4) != 0) return false;
    if (size > 0 && tag == nullptr) return false;
    const int64_t fileSize = reader_->GetSize();
    if (fileSize < 0) return false;
    const int64_t savedPosition = reader_->GetPosition();

    uint8_t header[kDsdChunkSize];
    std::memcpy(header, header_, sizeof(header));
    const uint64_t metadataOffset = MetadataOffset();
    if (metadataOffset != 0 && metadataOffset < static_cast<uint64_t>(fileSize)) {
        const auto offset = static_cast<int64_t>(metadataOffset);
        // The old tag must lie after the audio and really be a tag; anything
        // else means a damaged offset, and truncating there would cut audio.
        if (offset < dataStart_ + dataLength_) return false;
        if (reader_->Seek(offset, kKwSeekBegin) != offset) return false;
        uint8_t id[3] = {};
        if (ReadAll(reader_, id, 3) != 3 || std::memcmp(id, "ID3", 3) != 0) return false;
        if (reader_->Seek(offset, kKwSeekBegin) != offset || !reader_->Truncate()) return false;
    } else if (reader_->Seek(fileSize, kKwSeekBegin) != fileSize) {
        return false;
    }

    if (size > 0) {
        const int64_t tagOffset = reader_->GetPosition();
        if (tagOffset < 0) return false;
        size_t written = 0;
        while (written < size) {
            const auto chunk = static_cast<int32_t>(std::min<size_t>(size - written, kMaxWriteChunk));
            const int32_t put = reader_->Write(tag + written, chunk);
            if (put != chunk) return false;
            written += static_cast<size_t>(put);
        }
        WriteLe64(header + 20, static_cast<uint64_t>(tagOffset));
    } else {
        WriteLe64(header + 20, 0);
    }

    const int64_t newSize = reader_->GetSize();
    if (newSize < 0) return false;
    WriteLe64(header + 12, static_cast<uint64_t>(newSize));
    if (reader_->Seek(0, kKwSeekBegin) != 0 || reader_->Write(header, kDsdChunkSize) != kDsdChunkSize) return false;
    std::memcpy(header_, header, sizeof(header));
    if (savedPosition >= 0) reader_->Seek(savedPosition, kKwSeekBegin);
    return true;
}
