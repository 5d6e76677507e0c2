// DSDIFF container: recognition of the chunks after "FRM8"/"DSD ", and the
// DST-coded stream (frames fed to the decoding pipeline, decoded bytes kept in
// a FIFO, seeking by skipping whole frames).
//
// All DSDIFF integers are big-endian; every chunk is a four-character ID, a
// 64-bit size counting the bytes after the 12-byte header, the body, and one
// pad byte when the size is odd (the size does not count it).
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "dsdfile/CDSDFile.h"
#include "dst/DstDecoder.h"
#include "dst/DstPipeline.h"

namespace {

constexpr size_t kChunkHeaderSize = 12;
constexpr size_t kFrteChunkSize = 18;  // "FRTE" header and its 6-byte body
// PROP chunks hold a few short sub-chunks; a bigger one is parsed up to this
// many bytes (and skipped by its full size), so a hostile size allocates little.
constexpr uint64_t kMaxPropBytes = uint64_t{1} << 20;
// A "DSTF" body larger than this cannot be a DST frame (an uncoded frame is
// about the size of its decoded bytes); it is replaced by an empty frame, which
// decodes to one frame of the error pattern.
constexpr uint64_t kMaxDstFrameSlack = 65536;
// Seek checkpoints: the reader position after every this many frames.
constexpr uint64_t kCheckpointFrames = 75;

uint32_t ReadBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

uint64_t ReadBe64(const uint8_t* p) { return static_cast<uint64_t>(ReadBe32(p)) << 32 | ReadBe32(p + 4); }

bool IsId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// Reads up to `count` bytes, accepting readers that deliver in pieces.
size_t ReadAll(IKwReader* reader, void* buffer, size_t count) {
    size_t total = 0;
    while (total < count) {
        const size_t piece = std::min<size_t>(count - total, size_t{1} << 30);
        const int32_t got = reader->Read(static_cast<uint8_t*>(buffer) + total, static_cast<int32_t>(piece));
        if (got <= 0) break;
        total += std::min(static_cast<size_t>(got), piece);
    }
    return total;
}

bool SeekTo(IKwReader* reader, int64_t position) {
    return position >= 0 && reader->Seek(position, kKwSeekBegin) == position;
}

// Bytes one DST frame decodes to: 1/75 second of every channel.
uint64_t DstFrameBytes(uint32_t channels, uint32_t rate) { return uint64_t{channels} * (rate / 600); }

}  // namespace

// The state of a DST-coded stream: where its chunks lie, the decoding
// pipeline (made by the first read, dropped by every seek) and the decoded
// bytes not yet delivered. The reader position is the stream's cursor.
struct CDSDFile::CDstStreamState {
    uint64_t dataStart = 0;   // first byte after "FRTE"
    uint64_t dataLength = 0;  // bytes of "DSTF"/"DSTC" chunks, within the file
    uint32_t frameCount = 0;  // from "FRTE"
    CDstDecoder* decoder = nullptr;
    uint32_t decoderOwned = 1;
    KwByteBuffer fifo;   // decoded bytes in stream order
    KwByteBuffer frame;  // one frame body on its way to the pipeline (exchanged)
    // checkpoints[i]: the reader position after skipping (i + 1) × 75 frames
    // from the data start. Seeks restart their walk from the nearest one.
    std::vector<int64_t> checkpoints;

    ~CDstStreamState() { DestroyDecoder(); }

    void DestroyDecoder() {
        if (decoder && (decoderOwned & 1)) delete decoder;
        decoder = nullptr;
        decoderOwned = 1;
    }

    int64_t End() const { return static_cast<int64_t>(dataStart + dataLength); }

    // Bytes of DST data after the reader's position (0 outside the data).
    int64_t Remaining(IKwReader* reader) const {
        const int64_t position = reader->GetPosition();
        if (position < static_cast<int64_t>(dataStart)) return 0;
        return std::max<int64_t>(End() - position, 0);
    }

    // Reads the next chunk header when a whole chunk of the DST data follows.
    // On success `start` is the header's position and `size` its (non-negative)
    // body size; on failure the reader is back at the header, so the stream
    // keeps ending there until the next seek.
    bool NextChunk(IKwReader* reader, uint8_t* header, int64_t& start, uint64_t& size) const {
        start = reader->GetPosition();
        const int64_t remaining = Remaining(reader);
        if (remaining < static_cast<int64_t>(kChunkHeaderSize)) return false;
        if (ReadAll(reader, header, kChunkHeaderSize) < kChunkHeaderSize) {
            SeekTo(reader, start);
            return false;
        }
        const uint64_t declared = ReadBe64(header + 4);
        size = declared > static_cast<uint64_t>(INT64_MAX) ? 0 : declared;  // a negative size counts as 0
        if (size > static_cast<uint64_t>(remaining) - kChunkHeaderSize) {
            SeekTo(reader, start);
            return false;
        }
        return true;
    }

    // Skips the next chunk: true with `isFrame` for a "DSTF" chunk, true for a
    // "DSTC" chunk, false at the end of the data or on any other chunk.
    bool SkipChunk(IKwReader* reader, bool& isFrame) {
        uint8_t header[kChunkHeaderSize];
        int64_t start = 0;
        uint64_t size = 0;
        isFrame = false;
        if (!NextChunk(reader, header, start, size)) return false;
        isFrame = IsId(header, "DSTF");
        if (!isFrame && !IsId(header, "DSTC")) {
            SeekTo(reader, start);
            return false;
        }
        // Both kinds are followed by a pad byte when their size is odd.
        return SeekTo(reader, start + static_cast<int64_t>(kChunkHeaderSize + size + (size & 1)));
    }

    // Submits frames until the FIFO holds `wanted` bytes or the data ends.
    void Fill(IKwReader* reader, size_t wanted, uint32_t channels, uint32_t rate) {
        const uint64_t maxFrame = 2 * DstFrameBytes(channels, rate) + kMaxDstFrameSlack;
        while (fifo.Size() < wanted) {
            uint8_t header[kChunkHeaderSize];
            int64_t start = 0;
            uint64_t size = 0;
            if (!NextChunk(reader, header, start, size)) return;
            const int64_t next = start + static_cast<int64_t>(kChunkHeaderSize + size + (size & 1));
            if (IsId(header, "DSTF")) {
                frame.Clear();
                if (size <= maxFrame) {
                    frame.Resize(static_cast<size_t>(size));
                    if (ReadAll(reader, frame.Data(), frame.Size()) < frame.Size()) {
                        SeekTo(reader, start);
                        return;
                    }
                }
                if (!SeekTo(reader, next)) return;
                if (!decoder) {
                    decoder = new CDstDecoder(channels, rate);
                    decoderOwned = 1;
                }
                if (!decoder->SubmitFrame(frame)) return;
            } else if (IsId(header, "DSTC")) {
                if (!SeekTo(reader, next)) return;
            } else {
                SeekTo(reader, start);
                return;
            }
            if (decoder) decoder->FetchDecoded(fifo, false);
        }
    }

    // Places the reader after `frames` "DSTF" chunks (or at the first chunk
    // that cannot be skipped, the end of the data included).
    bool SkipFrames(IKwReader* reader, uint64_t frames) {
        int64_t position = static_cast<int64_t>(dataStart);
        uint64_t skipped = 0;
        const uint64_t known = std::min<uint64_t>(frames / kCheckpointFrames, checkpoints.size());
        if (known > 0) {
            position = checkpoints[known - 1];
            skipped = known * kCheckpointFrames;
        }
        if (!SeekTo(reader, position)) return false;
        while (skipped < frames) {
            bool isFrame = false;
            if (!SkipChunk(reader, isFrame)) break;
            if (!isFrame) continue;
            ++skipped;
            if (skipped % kCheckpointFrames == 0 && skipped / kCheckpointFrames == checkpoints.size() + 1)
                checkpoints.push_back(reader->GetPosition());
        }
        return true;
    }
};

bool CDSDFile::OpenDsdiff() {
    IKwReader* reader = reader_;
    const int64_t fileSize = reader->GetSize();
    if (fileSize <= 0) return false;

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
            // The first four body bytes are the property type; sound properties
            // hold sub-chunks with the same header layout.
            std::vector<uint8_t> body(static_cast<size_t>(std::min({size, left, kMaxPropBytes})));
            body.resize(ReadAll(reader, body.data(), body.size()));
            if (body.size() >= 4 && IsId(body.data(), "SND ")) {
                const size_t end = body.size();
                size_t offset = 4;
                while (offset + kChunkHeaderSize <= end) {
                    const uint8_t* sub = body.data() + offset;
                    const uint8_t* subBody = sub + kChunkHeaderSize;
                    const uint64_t subSize = ReadBe64(sub + 4);
                    const size_t room = end - offset - kChunkHeaderSize;
                    const bool fits = subSize <= room;
                    if (IsId(sub, "FS  ")) {
                        if (room >= 4) {
                            const uint32_t rate = ReadBe32(subBody);
                            if (rate != sourceFormat_.SampleRate())
                                sourceFormat_.SetUp(sourceFormat_.BitsPerSample(), rate, sourceFormat_.Channels(),
                                                    sourceFormat_.ChannelMask(), sourceFormat_.IsExtensible(),
                                                    sourceFormat_.SubType());
                        }
                    } else if (IsId(sub, "CHNL")) {
                        // The channel IDs after the count are not used.
                        const uint16_t count = fits && subSize >= 2
                                                   ? static_cast<uint16_t>(subBody[0] << 8 | subBody[1])
                                                   : uint16_t{0};
                        sourceFormat_.SetChannelCount(count);
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
                    // Odd-sized sub-chunks are followed by a pad byte.
                    offset += kChunkHeaderSize + static_cast<size_t>(subSize) + static_cast<size_t>(subSize & 1);
                }
            }
        } else if (IsId(header, dst ? "DST " : "DSD ")) {
            uint64_t length = size;
            int64_t start = bodyStart;
            uint32_t frameCount = 0;
            if (dst) {
                uint8_t frte[kFrteChunkSize];
                if (ReadAll(reader, frte, sizeof(frte)) < sizeof(frte) || !IsId(frte, "FRTE") ||
                    ReadBe64(frte + 4) != 6 || size < kFrteChunkSize)
                    return false;
                frameCount = ReadBe32(frte + kChunkHeaderSize);
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
            const uint32_t channels = sourceFormat_.Channels();
            const uint32_t rate = sourceFormat_.SampleRate();
            if (channels < 1 || channels > kAudioFormatMaxChannels || rate == 0) return false;
            if (dst) {
                const int32_t perChannel = rate > INT32_MAX ? 0 : DstBytesPerChannel(static_cast<int32_t>(rate));
                if (channels > static_cast<uint32_t>(kDstMaxChannels) || perChannel < 1 ||
                    perChannel > kDstMaxBytesPerChannel || rate / 600 < 1)
                    return false;
            }

            dataStart_ = start;
            dataLength_ = static_cast<int64_t>(length);
            if (dst) {
                DestroyDstStream();
                dstStream_ = new CDstStreamState();
                dstStreamOwned_ = 1;
                dstStream_->dataStart = static_cast<uint64_t>(start);
                dstStream_->dataLength = length;
                dstStream_->frameCount = frameCount;
            }
            blockSizePerChannel_ = 1;
            lsbFirst_ = 0;
            return true;
        }

        // Every other chunk (and the body of PROP) is passed over by its size
        // and pad byte. A chunk reaching past the file ends the search.
        if (size > left) return false;
        if (!SeekTo(reader, bodyStart + static_cast<int64_t>(size + (size & 1)))) return false;
        if (ReadAll(reader, header, sizeof(header)) < sizeof(header)) return false;
    }
}

size_t CDSDFile::FillBlockFromDst(size_t count) {
    CDstStreamState* stream = dstStream_;
    if (!stream) return 0;
    const uint32_t channels = sourceFormat_.Channels();
    const uint32_t rate = sourceFormat_.SampleRate();
    stream->Fill(reader_, count, channels, rate);
    // The data has run out (or ended at a damaged chunk): wait for every frame
    // still in work.
    if (stream->fifo.Size() < count && stream->decoder) stream->decoder->FetchDecoded(stream->fifo, true);
    const size_t take = std::min(count, stream->fifo.Size());
    blockBuffer_.Resize(take);
    if (take > 0) std::memcpy(blockBuffer_.Data(), stream->fifo.Data(), take);
    stream->fifo.Consume(take);
    return take;
}

bool CDSDFile::SeekDst(int64_t bytePosition) {
    CDstStreamState* stream = dstStream_;
    if (!stream) return false;
    // Decoding restarts at a frame boundary: drop the pipeline and whatever it
    // had decoded ahead.
    stream->DestroyDecoder();
    stream->fifo.Clear();
    const uint64_t frameBytes = DstFrameBytes(sourceFormat_.Channels(), sourceFormat_.SampleRate());
    const uint64_t frames = frameBytes == 0 || bytePosition <= 0 ? 0 : static_cast<uint64_t>(bytePosition) / frameBytes;
    return stream->SkipFrames(reader_, frames);
}

double CDSDFile::DstDuration() const {
    const uint32_t bytesPerSecond = sourceFormat_.AvgBytesPerSec();
    if (!dstStream_ || bytesPerSecond == 0) return 0.0;
    const uint64_t frameBytes = DstFrameBytes(sourceFormat_.Channels(), sourceFormat_.SampleRate());
    return static_cast<double>(frameBytes) * dstStream_->frameCount * 1000.0 / bytesPerSecond;
}

void CDSDFile::DestroyDstStream() {
    if (dstStream_ && (dstStreamOwned_ & 1)) delete dstStream_;
    dstStream_ = nullptr;
    dstStreamOwned_ = 1;
}
