// Helpers of the DSD file tests: a DSF image builder, an in-memory reader with
// fault injection and file utilities.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dsdfile/CDSDFile.h"
#include "host/common/KwFileReader.h"
#include "plugin/kwapi/VBaseReader.h"
#include "tags/KwXMLFilename.h"

namespace dsftest {

inline void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline uint64_t GetLe(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

// A DSF file: `channelData[c]` holds the audio bytes of channel c (all the same
// length); they are cut into blocks of `blockSize` and the last group is
// padded with zeros. The override fields replace computed header values.
struct DsfImage {
    uint32_t channels = 2;
    uint32_t rate = 2822400;
    uint32_t bits = 1;
    uint32_t blockSize = 4096;
    std::vector<std::vector<uint8_t>> channelData;
    std::vector<uint8_t> tag;
    uint64_t fmtChunkSize = 52;
    int64_t dataChunkSizeOverride = -1;
    int64_t metadataOffsetOverride = -1;
    int64_t blockSizeFieldOverride = -1;  // written to the header only

    std::vector<uint8_t> Build() const {
        const size_t perChannel = channelData.empty() ? 0 : channelData[0].size();
        const size_t block = blockSize > 1 ? blockSize : 1;
        const size_t groups = (perChannel + block - 1) / block;
        std::vector<uint8_t> audio;
        for (size_t g = 0; g < groups; ++g)
            for (uint32_t c = 0; c < channels; ++c)
                for (size_t k = 0; k < block; ++k) {
                    const size_t index = g * block + k;
                    const bool have = c < channelData.size() && index < channelData[c].size();
                    audio.push_back(have ? channelData[c][index] : 0);
                }
        std::vector<uint8_t> out;
        const uint64_t dataChunk = dataChunkSizeOverride >= 0 ? uint64_t(dataChunkSizeOverride) : audio.size() + 12;
        const uint64_t dataOffset = 28 + fmtChunkSize + 12;
        const uint64_t fileSize = dataOffset + audio.size() + tag.size();
        uint64_t metadata = tag.empty() ? 0 : dataOffset + audio.size();
        if (metadataOffsetOverride >= 0) metadata = uint64_t(metadataOffsetOverride);
        out.insert(out.end(), {'D', 'S', 'D', ' '});
        PutLe(out, 28, 8);
        PutLe(out, fileSize, 8);
        PutLe(out, metadata, 8);
        out.insert(out.end(), {'f', 'm', 't', ' '});
        PutLe(out, fmtChunkSize, 8);
        PutLe(out, 1, 4);  // version
        PutLe(out, 0, 4);  // format ID
        PutLe(out, channels == 1 ? 1 : 2, 4);
        PutLe(out, channels, 4);
        PutLe(out, rate, 4);
        PutLe(out, bits, 4);
        PutLe(out, perChannel * 8, 8);
        PutLe(out, blockSizeFieldOverride >= 0 ? uint64_t(blockSizeFieldOverride) : blockSize, 4);
        PutLe(out, 0, 4);
        for (uint64_t i = 52; i < fmtChunkSize && i < 4096; ++i) out.push_back(0xEE);
        out.insert(out.end(), {'d', 'a', 't', 'a'});
        PutLe(out, dataChunk, 8);
        out.insert(out.end(), audio.begin(), audio.end());
        out.insert(out.end(), tag.begin(), tag.end());
        return out;
    }
};

// Channel data whose bytes are never 0 and depend on channel and position.
inline std::vector<std::vector<uint8_t>> PatternData(uint32_t channels, size_t perChannel) {
    std::vector<std::vector<uint8_t>> data(channels, std::vector<uint8_t>(perChannel));
    for (uint32_t c = 0; c < channels; ++c)
        for (size_t k = 0; k < perChannel; ++k) data[c][k] = static_cast<uint8_t>(1 + (k * 7 + c * 31 + k / 251) % 255);
    return data;
}

// A reader over bytes in memory that can grow, be truncated, and be told to
// fail: reads deliver at most `maxRead` bytes per call; a size beyond the
// stored bytes reads as zeros (a large virtual file without the memory).
class MemoryReader : public VBaseReader {
public:
    explicit MemoryReader(std::vector<uint8_t> bytes, int64_t virtualSize = -1)
        : bytes_(std::move(bytes)), virtualSize_(virtualSize) {
        open_ = 1;
    }
    bool Open() override { return open_ = 1, true; }
    void Abort() override {}
    int32_t Read(void* buffer, int32_t count) override {
        if (!open_ || count <= 0) return 0;
        const int64_t size = GetSize();
        int64_t n = std::min<int64_t>({count, std::max<int64_t>(size - position_, 0), maxRead});
        for (int64_t i = 0; i < n; ++i) {
            const int64_t at = position_ + i;
            static_cast<uint8_t*>(buffer)[i] = at < int64_t(bytes_.size()) ? bytes_[size_t(at)] : 0;
        }
        position_ += n;
        return static_cast<int32_t>(n);
    }
    int32_t Write(const void* buffer, int32_t count) override {
        if (!open_ || count < 0 || readOnly) return -1;
        const int32_t put = std::min(count, writeLimit);
        if (bytes_.size() < size_t(position_ + put)) bytes_.resize(size_t(position_ + put));
        std::memcpy(bytes_.data() + position_, buffer, size_t(put));
        position_ += put;
        ++writes;
        return put;
    }
    int64_t GetSize() override { return virtualSize_ >= 0 ? virtualSize_ : int64_t(bytes_.size()); }
    int64_t GetPosition() override { return position_; }
    int64_t Seek(int64_t offset, int32_t origin) override {
        const int64_t target = ResolvePosition(position_, offset, origin);
        position_ = target;
        return target;
    }
    bool Truncate() override {
        if (readOnly) return false;
        bytes_.resize(size_t(std::min<int64_t>(position_, int64_t(bytes_.size()))));
        return true;
    }
    bool HasCapability(int32_t) override { return false; }
    void SetOpen(bool open) { open_ = open ? 1 : 0; }

    std::vector<uint8_t>& Bytes() { return bytes_; }

    int64_t maxRead = INT32_MAX;
    int32_t writeLimit = INT32_MAX;
    bool readOnly = false;
    int writes = 0;

private:
    std::vector<uint8_t> bytes_;
    int64_t virtualSize_;
    int64_t position_ = 0;
};

inline KwXMLFilename FileNameOfType(const KwChar* type) {
    KwXMLFilename name(KW_T("file"));
    if (type) name.Items().SetString(KW_T("FileType"), type, false);
    return name;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::filesystem::path TestDataPath(const char* name) { return std::filesystem::path(DSD_TESTDATA_DIR) / name; }

// Opens a file on disk, read-only, as the given file type.
inline bool OpenPath(CDSDFile& file, const std::filesystem::path& path, uint32_t modes,
                     const KwChar* type = KW_T("dsf")) {
    auto* reader = new KwFileReader(KwFromUtf8(path.string()));
    reader->SetOption(KW_T("READ_ONLY"), KW_T("1"));
    if (!reader->Open()) {
        KwDestroy(reader);
        return false;
    }
    return file.Open(reader, 1, modes, 0, FileNameOfType(type));
}

// Every byte of output the file delivers, `frames` output frames per call.
inline std::vector<uint8_t> ReadAllBytes(CDSDFile& file, uint32_t frames) {
    const CAudioFormat& out = file.OutputFormat();
    const size_t frameBytes = out.BlockAlign() ? out.BlockAlign() : out.Channels();
    std::vector<uint8_t> all, buffer(frames * frameBytes);
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

}  // namespace dsftest
