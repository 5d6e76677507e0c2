#include "dsdfile/DsdiffContainer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dsdfile/DsdRates.h"
#include "dsdfile/DstFrameScan.h"
#include "dsdfile/ReaderIo.h"
#include "dst/DstDecoder.h"

namespace {

constexpr size_t kChunkHeaderSize = 12;
constexpr size_t kFormHeaderSize = 16;  // "FRM8", size, "DSD "
constexpr size_t kFrteChunkSize = 18;   // "FRTE" header and its 6-byte body
// PROP chunks hold a few short sub-chunks; a bigger one is parsed up to this
// many bytes (and skipped by its full size), so a hostile size allocates little.
constexpr uint64_t kMaxPropBytes = uint64_t{1} << 20;
// A "DSTF" body larger than this cannot be a DST frame (an uncoded frame is
// about the size of its decoded bytes); it counts as a damaged frame.
constexpr uint64_t kMaxDstFrameSlack = 65536;

uint32_t ReadBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

uint64_t ReadBe64(const uint8_t* p) { return static_cast<uint64_t>(ReadBe32(p)) << 32 | ReadBe32(p + 4); }

bool IsId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

bool LooksLikeId(const uint8_t* p) {
    return std::all_of(p, p + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7e; });
}

// The position after a chunk whose body of `size` bytes starts at `bodyStart`.
int64_t ChunkEnd(IKwReader* reader, int64_t bodyStart, uint64_t size) {
    const int64_t end = bodyStart + static_cast<int64_t>(size);
    if (!(size & 1)) return end;
    uint8_t next[5] = {};
    const size_t available = SeekTo(reader, end) ? ReadAll(reader, next, sizeof(next)) : 0;
    return static_cast<int64_t>(DsdiffNextChunk(static_cast<uint64_t>(end), size, next, available));
}

}  // namespace

uint64_t DsdiffNextChunk(uint64_t end, uint64_t bodySize, const uint8_t* next, size_t available) {
    if (!(bodySize & 1) || available == 0) return end;
    if (available >= 5 && LooksLikeId(next + 1)) return end + 1;  // padded
    if (available >= 4 && LooksLikeId(next)) return end;          // unpadded
    return end + 1;
}

std::unique_ptr<CDsdContainer> MakeDsdiffContainer() { return std::make_unique<CDsdiffContainer>(); }

CDsdiffContainer::CDsdiffContainer() = default;
CDsdiffContainer::~CDsdiffContainer() = default;

bool CDsdiffContainer::ParseProperties(const uint8_t* body, size_t size, bool& compressionKnown, bool& dst) {
    // The first four body bytes are the property type; sound properties hold
    // sub-chunks with the same header layout.
    if (size < 4 || !IsId(body, "SND ")) return true;
    size_t offset = 4;
    while (offset + kChunkHeaderSize <= size) {
        const uint8_t* sub = body + offset;
        const uint8_t* subBody = sub + kChunkHeaderSize;
        const uint64_t subSize = ReadBe64(sub + 4);
        const size_t room = size - offset - kChunkHeaderSize;
        const bool fits = subSize <= room;
        if (IsId(sub, "FS  ")) {
            if (room >= 4) {
                const uint32_t rate = ReadBe32(subBody);
                if (rate != format_->SampleRate())
                    format_->SetUp(format_->BitsPerSample(), rate, format_->Channels(), format_->ChannelMask(),
                                   format_->IsExtensible(), format_->SubType());
            }
        } else if (IsId(sub, "CHNL")) {
            // The channel IDs after the count are not used.
            const uint16_t count =
                fits && subSize >= 2 ? static_cast<uint16_t>(subBody[0] << 8 | subBody[1]) : uint16_t{0};
            format_->SetChannelCount(count);
        } else if (IsId(sub, "CMPR")) {
            if (fits && subSize >= 4) {
                if (IsId(subBody, "DSD ")) {
                    compressionKnown = true;
                } else if (IsId(subBody, "DST ")) {
                    compressionKnown = true;
                    dst = true;
                }
            }
        }
        if (!fits) break;
        const size_t end = offset + kChunkHeaderSize + static_cast<size_t>(subSize);
        const size_t available = std::min<size_t>(5, size - std::min(end, size));
        offset = static_cast<size_t>(DsdiffNextChunk(end, subSize, body + std::min(end, size), available));
    }
    return true;
}

bool CDsdiffContainer::Open(IKwReader* reader, const KwXMLFilename&, const CDsdOpenOptions& options,
                            CAudioFormat& format) {
    reader_ = reader;
    format_ = &format;
    dst_.reset();
    const int64_t fileSize = reader->GetSize();
    if (fileSize <= 0) return false;
    uint8_t form[kFormHeaderSize] = {};
    if (!SeekTo(reader, 0) || ReadAll(reader, form, sizeof(form)) < sizeof(form) || !IsId(form, "FRM8") ||
        !IsId(form + 12, "DSD "))
        return false;

    bool compressionKnown = false;
    bool dst = false;
    uint8_t header[kChunkHeaderSize];
    if (ReadAll(reader, header, sizeof(header)) < sizeof(header)) return false;
    for (;;) {
        const int64_t bodyStart = reader->GetPosition();
        if (bodyStart < 0 || bodyStart > fileSize) return false;
        const uint64_t size = ReadBe64(header + 4);
        const uint64_t left = static_cast<uint64_t>(fileSize - bodyStart);

        if (IsId(header, "PROP")) {
            std::vector<uint8_t> body(static_cast<size_t>(std::min({size, left, kMaxPropBytes})));
            body.resize(ReadAll(reader, body.data(), body.size()));
            ParseProperties(body.data(), body.size(), compressionKnown, dst);
        } else if (IsId(header, dst ? "DST " : "DSD ")) {
            uint64_t length = size;
            int64_t start = bodyStart;
            if (dst) {
                uint8_t frte[kFrteChunkSize];
                if (ReadAll(reader, frte, sizeof(frte)) < sizeof(frte) || !IsId(frte, "FRTE") ||
                    ReadBe64(frte + 4) != 6 || size < kFrteChunkSize)
                    return false;
                frameCount_ = ReadBe32(frte + kChunkHeaderSize);
                length = size - kFrteChunkSize;
                start = reader->GetPosition();
                if (start < 0 || start > fileSize) return false;
            } else if (!compressionKnown) {
                return false;
            }
            length = std::min(length, static_cast<uint64_t>(fileSize - start));
            if (length < 1) return false;

            // Only what can be delivered: 1 to 64 channels (1 to 6 for DST,
            // which also needs a rate its frames can hold), a rate above 0.
            const uint32_t channels = format.Channels();
            const uint32_t rate = format.SampleRate();
            if (channels < 1 || channels > kAudioFormatMaxChannels || !IsDsdRate(rate)) return false;
            if (dst) {
                const int32_t perChannel = rate > INT32_MAX ? 0 : DstBytesPerChannel(static_cast<int32_t>(rate));
                if (channels > static_cast<uint32_t>(kDstMaxChannels) || perChannel < 1 ||
                    perChannel > kDstMaxBytesPerChannel || rate / 600 < 1)
                    return false;
            }
            dataStart_ = start;
            dataLength_ = static_cast<int64_t>(length);
            blockSizePerChannel_ = 1;
            lsbFirst_ = false;
            if (dst) {
                frameBytes_ = uint64_t{channels} * (rate / 600);
                // The duration comes from the declared frame count; one the
                // data cannot hold (0, or far more frames than fit) gives way
                // to the frames actually there.
                if (!DstFrameCountPlausible(frameCount_, length, MaxFrameBody() + kChunkHeaderSize + 1))
                    frameCount_ = CountFrames();
                dst_ = std::make_unique<CDstStream>(static_cast<CDstFrameSource&>(*this), channels, rate,
                                                    options.dstThreads, frameCount_);
            }
            return true;
        }

        // Every other chunk (and the body of PROP) is passed over by its size
        // and pad byte. A chunk reaching past the file ends the search.
        if (size > left) return false;
        if (!SeekTo(reader, ChunkEnd(reader, bodyStart, size))) return false;
        if (ReadAll(reader, header, sizeof(header)) < sizeof(header)) return false;
    }
}

size_t CDsdiffContainer::Fill(uint8_t* destination, size_t count) {
    if (!dst_) return CDsdWindowContainer::Fill(destination, count);
    return dst_->Read(destination, count);
}

bool CDsdiffContainer::Seek(double milliseconds) {
    if (!dst_) return CDsdWindowContainer::Seek(milliseconds);
    // A DST stream's positions count decoded bytes, which the data window
    // (coded bytes) does not bound; the frame skip stops at its end.
    int64_t position = 0;
    uint64_t frame = UINT64_MAX;
    if (BytePositionOfTime(milliseconds, format_->AvgBytesPerSec(), format_->BlockAlign(), 4.0e18, position))
        frame = dst_->FrameOfByte(static_cast<uint64_t>(position));
    return dst_->SeekFrame(frame);
}

double CDsdiffContainer::Duration() const {
    if (!dst_) return CDsdWindowContainer::Duration();
    const uint32_t bytesPerSecond = format_->AvgBytesPerSec();
    if (bytesPerSecond == 0) return 0.0;
    return static_cast<double>(dst_->FrameBytes()) * frameCount_ * 1000.0 / bytesPerSecond;
}

// ---------------------------------------------------------------------------
// The DST frames of the data window. The reader position is the source's
// position; a chunk that does not lie wholly in the window, or one that is
// neither "DSTF" nor "DSTC", ends the frames (the reader stays before it).

int64_t CDsdiffContainer::Position() const { return reader_->GetPosition(); }

bool CDsdiffContainer::SetPosition(int64_t position) {
    lostFrames_ = 0;
    return SeekTo(reader_, position);
}

uint64_t CDsdiffContainer::MaxFrameBody() const { return 2 * frameBytes_ + kMaxDstFrameSlack; }

uint32_t CDsdiffContainer::CountFrames() {
    const int64_t start = reader_->GetPosition();
    uint64_t frames = 0;
    while (frames < UINT32_MAX && SkipFrame()) ++frames;
    SetPosition(start);
    framesSeen_ = frameChunkBytes_ = 0;
    return static_cast<uint32_t>(frames);
}

CDsdiffContainer::Step CDsdiffContainer::NextStep(uint8_t* header, int64_t& start, uint64_t& size) {
    start = reader_->GetPosition();
    const int64_t end = dataStart_ + dataLength_;
    const int64_t remaining = start < dataStart_ ? 0 : std::max<int64_t>(end - start, 0);
    if (remaining < static_cast<int64_t>(kChunkHeaderSize)) return Step::kEnd;
    if (ReadAll(reader_, header, kChunkHeaderSize) < kChunkHeaderSize) {
        SeekTo(reader_, start);
        return Step::kEnd;
    }
    // A negative size is damage like any size that overruns the data.
    size = ReadBe64(header + 4);
    const bool fits = size <= static_cast<uint64_t>(remaining) - kChunkHeaderSize;
    const int64_t bodyStart = start + static_cast<int64_t>(kChunkHeaderSize);
    // A frame chunk larger than any frame has a damaged size: it is treated
    // like any other damage below.
    if (fits && IsId(header, "DSTF") && size <= MaxFrameBody()) return Step::kFrame;
    if (fits && IsId(header, "DSTC")) return SeekTo(reader_, ChunkEnd(reader_, bodyStart, size)) ? Step::kOther
                                                                                                   : Step::kEnd;
    // A chunk of another kind that lies whole in the data and is followed by
    // a frame, a checksum or the end is passed over. Its bytes count as lost
    // frames by the mean frame size: a short foreign chunk costs nothing, a
    // frame whose ID was damaged costs its frame.
    auto readAt = [this](int64_t at, uint8_t* buffer, size_t count) {
        return SeekTo(reader_, at) ? ReadAll(reader_, buffer, count) : size_t{0};
    };
    if (fits && LooksLikeId(header) && !IsId(header, "DSTF")) {
        const int64_t next = ChunkEnd(reader_, bodyStart, size);
        uint8_t after[4] = {};
        if (next >= end || (readAt(next, after, 4) == 4 && (IsId(after, "DSTF") || IsId(after, "DSTC")))) {
            if (framesSeen_) lostFrames_ = DstFramesLost(static_cast<uint64_t>(next - start), frameChunkBytes_, framesSeen_);
            return SeekTo(reader_, std::min(next, end)) ? Step::kOther : Step::kEnd;
        }
    }
    // Damage: go on at the next plausible frame, and count the frames lost
    // in between, so that what follows keeps its time.
    const int64_t found = FindNextDstFrame(readAt, start + 1, end, MaxFrameBody());
    if (found < 0) {
        SeekTo(reader_, end);
        return Step::kEnd;
    }
    lostFrames_ = DstFramesLost(static_cast<uint64_t>(found - start), frameChunkBytes_, framesSeen_);
    return SeekTo(reader_, found) ? Step::kOther : Step::kEnd;
}

CDstFrameSource::Next CDsdiffContainer::ReadFrame(KwByteBuffer& frame) {
    for (;;) {
        if (lostFrames_ > 0) {
            --lostFrames_;
            return Next::kDamaged;
        }
        uint8_t header[kChunkHeaderSize];
        int64_t start = 0;
        uint64_t size = 0;
        const Step step = NextStep(header, start, size);
        if (step == Step::kEnd) return Next::kEnd;
        if (step == Step::kOther) continue;
        const int64_t bodyStart = start + static_cast<int64_t>(kChunkHeaderSize);
        frame.Resize(static_cast<size_t>(size));
        if (ReadAll(reader_, frame.Data(), frame.Size()) < frame.Size()) {
            SeekTo(reader_, start);
            return Next::kEnd;
        }
        if (!SeekTo(reader_, ChunkEnd(reader_, bodyStart, size))) return Next::kEnd;
        ++framesSeen_;
        frameChunkBytes_ += kChunkHeaderSize + size;
        return Next::kFrame;
    }
}

bool CDsdiffContainer::SkipFrame() {
    for (;;) {
        if (lostFrames_ > 0) {
            --lostFrames_;
            return true;
        }
        uint8_t header[kChunkHeaderSize];
        int64_t start = 0;
        uint64_t size = 0;
        const Step step = NextStep(header, start, size);
        if (step == Step::kEnd) return false;
        if (step == Step::kOther) continue;
        if (!SeekTo(reader_, ChunkEnd(reader_, start + static_cast<int64_t>(kChunkHeaderSize), size))) {
            SeekTo(reader_, start);
            return false;
        }
        ++framesSeen_;
        frameChunkBytes_ += kChunkHeaderSize + size;
        return true;
    }
}
