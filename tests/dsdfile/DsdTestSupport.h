// Helpers of the DSD file tests: a DSF image builder with header overrides,
// a DSDIFF chunk builder for headers the writer does not make, an in-memory
// reader with fault injection, and readers of every output form.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "dsdfile/CDSDFile.h"
#include "host/common/KwFileReader.h"
#include "plugin/kwapi/VBaseReader.h"
#include "tags/KwXMLFilename.h"
#include "tests/e2e/E2eSupport.h"

namespace dsdtest {

using Bytes = std::vector<uint8_t>;
using e2e::ReadBytes;
using e2e::Tones;
using e2e::Interleave;

inline void Put(Bytes& out, uint64_t value, int bytes, bool bigEndian = false) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * (bigEndian ? bytes - 1 - i : i))));
}
inline uint64_t GetLe(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

// A DSF file: `channelData[c]` holds the stored bytes of channel c (all the
// same length), cut into blocks of `blockSize`, the last group padded with
// zeros. The override fields replace computed header values.
struct DsfImage {
    uint32_t channels = 2, rate = 2822400, bits = 1, blockSize = 4096;
    std::vector<Bytes> channelData;
    uint64_t fmtChunkSize = 52;
    int64_t dataChunkSizeOverride = -1, metadataOffsetOverride = -1, blockSizeFieldOverride = -1;

    Bytes Build() const {
        const size_t perChannel = channelData.empty() ? 0 : channelData[0].size();
        const size_t block = std::max<size_t>(blockSize, 1), groups = (perChannel + block - 1) / block;
        Bytes audio;
        for (size_t g = 0; g < groups; ++g)
            for (uint32_t c = 0; c < channels; ++c)
                for (size_t k = g * block; k < (g + 1) * block; ++k)
                    audio.push_back(c < channelData.size() && k < perChannel ? channelData[c][k] : 0);
        const uint64_t dataOffset = 28 + fmtChunkSize + 12;
        Bytes out = {'D', 'S', 'D', ' '};
        Put(out, 28, 8);
        Put(out, dataOffset + audio.size(), 8);
        Put(out, metadataOffsetOverride >= 0 ? uint64_t(metadataOffsetOverride) : 0, 8);
        out.insert(out.end(), {'f', 'm', 't', ' '});
        Put(out, fmtChunkSize, 8);
        for (uint64_t v : {1u, 0u, channels == 1 ? 1u : 2u, channels, rate, bits}) Put(out, v, 4);
        Put(out, perChannel * 8, 8);
        Put(out, blockSizeFieldOverride >= 0 ? uint64_t(blockSizeFieldOverride) : blockSize, 4);
        Put(out, 0, 4);
        for (uint64_t i = 52; i < fmtChunkSize && i < 4096; ++i) out.push_back(0xEE);
        out.insert(out.end(), {'d', 'a', 't', 'a'});
        Put(out, dataChunkSizeOverride >= 0 ? uint64_t(dataChunkSizeOverride) : audio.size() + 12, 8);
        out.insert(out.end(), audio.begin(), audio.end());
        return out;
    }
};

// Channel data whose bytes are never 0 and depend on channel and position.
inline std::vector<Bytes> PatternData(uint32_t channels, size_t perChannel) {
    std::vector<Bytes> data(channels, Bytes(perChannel));
    for (uint32_t c = 0; c < channels; ++c)
        for (size_t k = 0; k < perChannel; ++k) data[c][k] = static_cast<uint8_t>(1 + (k * 7 + c * 31 + k / 251) % 255);
    return data;
}

// A reader over bytes in memory that can be told to fail: reads deliver at
// most `maxRead` bytes per call; a size beyond the stored bytes reads as
// zeros (a large virtual file without the memory).
class MemoryReader : public VBaseReader {
public:
    explicit MemoryReader(Bytes bytes, int64_t virtualSize = -1) : bytes_(std::move(bytes)), virtualSize_(virtualSize) {
        open_ = 1;
    }
    bool Open() override { return open_ = 1, true; }
    void Abort() override {}
    int32_t Read(void* buffer, int32_t count) override {
        const int64_t n = open_ ? std::min<int64_t>({count, std::max<int64_t>(GetSize() - position_, 0), maxRead}) : 0;
        for (int64_t i = 0; i < n; ++i, ++position_)
            static_cast<uint8_t*>(buffer)[i] = position_ < int64_t(bytes_.size()) ? bytes_[size_t(position_)] : 0;
        return static_cast<int32_t>(std::max<int64_t>(n, 0));
    }
    int32_t Write(const void* buffer, int32_t count) override {
        if (!open_ || count < 0 || readOnly) return -1;
        const int32_t put = std::min(count, writeLimit);
        if (bytes_.size() < size_t(position_ + put)) bytes_.resize(size_t(position_ + put));
        std::memcpy(bytes_.data() + position_, buffer, size_t(put));
        position_ += put;
        return put;
    }
    int64_t GetSize() override { return virtualSize_ >= 0 ? virtualSize_ : int64_t(bytes_.size()); }
    int64_t GetPosition() override { return position_; }
    int64_t Seek(int64_t offset, int32_t origin) override { return position_ = ResolvePosition(position_, offset, origin); }
    bool Truncate() override { return !readOnly && (bytes_.resize(size_t(std::min<int64_t>(position_, int64_t(bytes_.size())))), true); }
    bool HasCapability(int32_t) override { return false; }
    void SetOpen(bool open) { open_ = open; }

    Bytes bytes_;
    int64_t virtualSize_;
    int64_t position_ = 0;
    int64_t maxRead = INT32_MAX;
    int32_t writeLimit = INT32_MAX;
    bool readOnly = false;
};

inline KwXMLFilename FileNameOfType(const KwChar* type) {
    KwXMLFilename name(KW_T("file"));
    if (type) name.Items().SetString(KW_T("FileType"), type, false);
    return name;
}

inline std::filesystem::path TestDataPath(const char* name) { return std::filesystem::path(DSD_TESTDATA_DIR) / name; }

// Opens `bytes` through an owned in-memory reader.
inline bool OpenBytes(CDSDFile& file, Bytes bytes, uint32_t modes, const KwChar* type = KW_T("dsf"),
                      int32_t highest = 0, MemoryReader** readerOut = nullptr) {
    auto* reader = new MemoryReader(std::move(bytes));
    if (readerOut) *readerOut = reader;
    return file.Open(reader, 1, modes, highest, FileNameOfType(type));
}

inline bool OpenDff(CDSDFile& file, Bytes bytes, uint32_t modes, MemoryReader** readerOut = nullptr) {
    return OpenBytes(file, std::move(bytes), modes, KW_T("dff"), 0, readerOut);
}

// Opens a file on disk, read-only, as the given file type.
inline bool OpenPath(CDSDFile& file, const std::filesystem::path& path, uint32_t modes,
                     const KwChar* type = KW_T("dsf")) {
    auto* reader = new KwFileReader(KwFromUtf8(path.string()));
    reader->SetOption(KW_T("READ_ONLY"), KW_T("1"));
    if (!reader->Open()) return KwDestroy(reader), false;
    return file.Open(reader, 1, modes, 0, FileNameOfType(type));
}

// Every byte of output the file delivers, `frames` output frames per call.
inline Bytes ReadAllBytes(CDSDFile& file, uint32_t frames) {
    const CAudioFormat& out = file.OutputFormat();
    const size_t frameBytes = out.BlockAlign() ? out.BlockAlign() : out.Channels();
    Bytes all, buffer(frames * frameBytes);
    for (int guard = 0; guard < 1000000; ++guard) {
        const uint32_t got = file.ReadSamples(buffer.data(), frames);
        if (got == 0) break;
        if (got > buffer.size() || got % frameBytes != 0) {
            ADD_FAILURE() << "read of " << got << " bytes for " << frames << " frames";
            break;
        }
        all.insert(all.end(), buffer.begin(), buffer.begin() + got);
    }
    return all;
}

// DSDIFF chunks: ID, big-endian size (the body's unless overridden), body, and
// the pad byte of an odd size unless `pad` is false.
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
inline Bytes Be(uint64_t value, int bytes) {
    Bytes out;
    Put(out, value, bytes, true);
    return out;
}
inline Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }
inline Bytes Chunk(const char* id, const Bytes& body, std::optional<uint64_t> sizeOverride = std::nullopt,
                   bool pad = true) {
    Bytes out = Cat({Text(id), Be(sizeOverride ? *sizeOverride : body.size(), 8), body});
    if (pad && (body.size() & 1)) out.push_back(0);
    return out;
}
inline Bytes Form(const Bytes& chunks) { return Cat({Text("FRM8"), Be(chunks.size() + 4, 8), Text("DSD "), chunks}); }
inline Bytes Prop(const Bytes& subChunks) { return Chunk("PROP", Cat({Text("SND "), subChunks})); }
inline Bytes Fs(uint32_t rate) { return Chunk("FS  ", Be(rate, 4)); }
inline Bytes Chnl(uint16_t channels) {
    Bytes body = Be(channels, 2);
    for (uint16_t c = 0; c < channels; ++c) body = Cat({body, Text("C000")});
    return Chunk("CHNL", body);
}
inline Bytes Cmpr(const char* type) { return Chunk("CMPR", Cat({Text(type), {4}, Text("name")})); }  // odd: padded
inline Bytes Frte(uint32_t frames) { return Chunk("FRTE", Cat({Be(frames, 4), Be(75, 2)})); }

}  // namespace dsdtest
