#include "host/dsdhost/OutputFiles.h"

#include "host/dsdhost/SndfileLoader.h"

#include <errno.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstring>
#include <vector>

namespace {

// Output goes to the file in pieces of at least this size: a long decode then
// costs a few thousand system calls instead of hundreds of thousands.
constexpr size_t kWriteBuffer = size_t{1} << 20;

// A stdio stream's buffer of kWriteBuffer bytes; it must outlive the stream.
struct BufferedFile {
    std::unique_ptr<char[]> buffer{new char[kWriteBuffer]};
    void Attach(FILE* file) {
        if (file) setvbuf(file, buffer.get(), _IOFBF, kWriteBuffer);
    }
};

class RawSink : public OutputSink {
public:
    // Standard output may have been written to already, so its buffer cannot
    // be replaced: the sink gathers small pieces itself.
    RawSink(FILE* file, bool owned) : file_(file), owned_(owned) {}
    ~RawSink() override {
        if (owned_ && file_) fclose(file_);
    }
    bool Write(const uint8_t* data, size_t size) override {
        if (pending_.size() + size > kWriteBuffer && !Drain()) return false;
        // A large piece goes out as it is, without a copy.
        if (size >= kDirectWrite) return Put(data, size);
        if (pending_.capacity() < kWriteBuffer) pending_.reserve(kWriteBuffer);
        pending_.insert(pending_.end(), data, data + size);
        return true;
    }
    bool Finish() override {
        bool ok = Drain();
        ok = fflush(file_) == 0 && ok;
        if (owned_) {
            ok = fclose(file_) == 0 && ok;
            file_ = nullptr;
        }
        return ok;
    }

private:
    // Pieces of at least this size skip the gathering.
    static constexpr size_t kDirectWrite = size_t{256} << 10;

    bool Drain() {
        const size_t n = pending_.size();
        const bool ok = n == 0 || Put(pending_.data(), n);
        pending_.clear();
        return ok;
    }
    // One system call for the whole piece where the system allows: the
    // stream's buffer (a few KiB on standard output) would otherwise split
    // it and copy a part.
    bool Put(const uint8_t* data, size_t size) {
#ifdef _WIN32
        return fwrite(data, 1, size, file_) == size;
#else
        if (fflush(file_) != 0) return false;  // what the stream holds goes first
        const int fd = fileno(file_);
        while (size > 0) {
            const ssize_t put = write(fd, data, size);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            data += put;
            size -= static_cast<size_t>(put);
        }
        return true;
#endif
    }

    FILE* file_;
    bool owned_;
    std::vector<uint8_t> pending_;
};

void PutBE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutId(std::vector<uint8_t>& out, const char* id) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
}

// Streams DSDIFF: the header is written with zero sizes and patched at the end.
class DsdiffSink : public OutputSink {
public:
    DsdiffSink(FILE* file, const StreamShape& shape) : file_(file), shape_(shape) {
        buffer_.Attach(file_);
        for (int i = 0; i < 256; ++i) {
            uint8_t r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b)) r |= static_cast<uint8_t>(0x80 >> b);
            reverse_[i] = r;
        }
        WriteHeader(0);
    }
    ~DsdiffSink() override {
        if (file_) fclose(file_);
    }
    bool Write(const uint8_t* data, size_t size) override {
        if (!shape_.lsbFirst) {
            dataBytes_ += size;
            return fwrite(data, 1, size, file_) == size;
        }
        scratch_.resize(size);
        for (size_t i = 0; i < size; ++i) scratch_[i] = reverse_[data[i]];
        dataBytes_ += size;
        return fwrite(scratch_.data(), 1, size, file_) == size;
    }
    bool Finish() override {
        bool ok = true;
        if (dataBytes_ & 1) ok = fputc(0, file_) != EOF;
        ok = ok && fseek(file_, 0, SEEK_SET) == 0 && WriteHeader(dataBytes_);
        ok = fclose(file_) == 0 && ok;
        file_ = nullptr;
        return ok;
    }

private:
    bool WriteHeader(uint64_t dataBytes) {
        static const char* kIds[6][6] = {{"C   "},
                                         {"SLFT", "SRGT"},
                                         {"SLFT", "SRGT", "C   "},
                                         {"SLFT", "SRGT", "LS  ", "RS  "},
                                         {"SLFT", "SRGT", "C   ", "LS  ", "RS  "},
                                         {"SLFT", "SRGT", "C   ", "LFE ", "LS  ", "RS  "}};
        const int channels = shape_.channels;
        std::vector<uint8_t> prop;
        PutId(prop, "SND ");
        PutId(prop, "FS  ");
        PutBE(prop, 4, 8);
        PutBE(prop, shape_.dsdRate, 4);
        PutId(prop, "CHNL");
        PutBE(prop, 2 + 4 * static_cast<uint64_t>(channels), 8);
        PutBE(prop, static_cast<uint64_t>(channels), 2);
        for (int c = 0; c < channels; ++c) {
            if (channels <= 6) {
                PutId(prop, kIds[channels - 1][c]);
            } else {
                // "C" and three digits for channels beyond the named layouts.
                const int n = c % 1000;
                const char id[4] = {'C', static_cast<char>('0' + n / 100), static_cast<char>('0' + n / 10 % 10),
                                    static_cast<char>('0' + n % 10)};
                PutId(prop, id);
            }
        }
        PutId(prop, "CMPR");
        static const char kName[] = "not compressed";
        PutBE(prop, 4 + 1 + 14 + 1, 8);
        PutId(prop, "DSD ");
        prop.push_back(14);
        prop.insert(prop.end(), kName, kName + 14);
        prop.push_back(0);  // pad to an even count

        std::vector<uint8_t> head;
        const uint64_t dataChunk = 12 + dataBytes + (dataBytes & 1);
        const uint64_t formSize = 4 + 16 + 12 + prop.size() + dataChunk;
        PutId(head, "FRM8");
        PutBE(head, formSize, 8);
        PutId(head, "DSD ");
        PutId(head, "FVER");
        PutBE(head, 4, 8);
        PutBE(head, 0x01050000, 4);
        PutId(head, "PROP");
        PutBE(head, prop.size(), 8);
        head.insert(head.end(), prop.begin(), prop.end());
        PutId(head, "DSD ");
        PutBE(head, dataBytes, 8);
        return fwrite(head.data(), 1, head.size(), file_) == head.size();
    }

    BufferedFile buffer_;  // the stream is closed before it goes
    FILE* file_;
    StreamShape shape_;
    uint64_t dataBytes_ = 0;
    uint8_t reverse_[256];
    std::vector<uint8_t> scratch_;
};

#if !defined(DSD_NO_SNDFILE)
// libsndfile writes through a buffered stdio stream instead of its own small
// writes: these callbacks give it the stream.
struct StdioFile {
    BufferedFile buffer;
    FILE* file = nullptr;

    static FILE* Of(void* user) { return static_cast<StdioFile*>(user)->file; }
    static sf_count_t Length(void* user) {
        FILE* f = Of(user);
        const off_t here = ftello(f);
        if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
        const off_t end = ftello(f);
        return fseeko(f, here, SEEK_SET) == 0 ? end : -1;
    }
    static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
        FILE* f = Of(user);
        return fseeko(f, static_cast<off_t>(offset), whence) == 0 ? ftello(f) : -1;
    }
    static sf_count_t Read(void* ptr, sf_count_t count, void* user) {
        return static_cast<sf_count_t>(fread(ptr, 1, static_cast<size_t>(count), Of(user)));
    }
    static sf_count_t Write(const void* ptr, sf_count_t count, void* user) {
        return static_cast<sf_count_t>(fwrite(ptr, 1, static_cast<size_t>(count), Of(user)));
    }
    static sf_count_t Tell(void* user) { return ftello(Of(user)); }
};

class WavSink : public OutputSink {
public:
    WavSink(const SndfileApi& sf, SNDFILE* file, int channels, std::unique_ptr<StdioFile> stream)
        : sf_(sf), file_(file), channels_(channels), stream_(std::move(stream)) {}
    ~WavSink() override {
        if (file_) sf_.close(file_);
        if (stream_->file) fclose(stream_->file);
    }
    bool Write(const uint8_t* data, size_t size) override {
        // Whole frames of doubles only; the plug-in delivers whole frames.
        pending_.insert(pending_.end(), data, data + size);
        const size_t frameBytes = sizeof(double) * static_cast<size_t>(channels_);
        const size_t frames = pending_.size() / frameBytes;
        if (!frames) return true;
        samples_.resize(frames * static_cast<size_t>(channels_));
        std::memcpy(samples_.data(), pending_.data(), frames * frameBytes);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes));
        return sf_.writef_double(file_, samples_.data(), static_cast<sf_count_t>(frames)) ==
               static_cast<sf_count_t>(frames);
    }
    bool Finish() override {
        bool ok = sf_.close(file_) == 0;
        file_ = nullptr;
        ok = fclose(stream_->file) == 0 && ok;
        stream_->file = nullptr;
        return ok;
    }

private:
    const SndfileApi& sf_;
    SNDFILE* file_;
    int channels_;
    std::unique_ptr<StdioFile> stream_;
    std::vector<uint8_t> pending_;
    std::vector<double> samples_;
};
#endif

}  // namespace

std::unique_ptr<OutputSink> OpenRawSink(const std::string& path, std::string& error) {
    if (path == "-") {
#ifdef _WIN32
        // Audio bytes, not text: no line-end translation.
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        return std::make_unique<RawSink>(stdout, false);
    }
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create " + path + ": " + strerror(errno);
        return nullptr;
    }
    return std::make_unique<RawSink>(file, true);
}

std::unique_ptr<OutputSink> OpenDsdiffSink(const std::string& path, const StreamShape& shape, std::string& error) {
    if (shape.channels < 1) {
        error = "no channels to write";
        return nullptr;
    }
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create " + path + ": " + strerror(errno);
        return nullptr;
    }
    return std::make_unique<DsdiffSink>(file, shape);
}

#if !defined(DSD_NO_SNDFILE)
namespace {

// Opens a libsndfile writer on a buffered stdio stream; `clip` makes integer
// samples clip at full scale instead of wrapping.
std::unique_ptr<OutputSink> OpenSndfileSink(const SndfileApi& sf, const std::string& path, SF_INFO info, bool clip,
                                            std::string& error) {
    auto stream = std::make_unique<StdioFile>();
    // Read as well as written: libsndfile may read back its header.
    stream->file = fopen(path.c_str(), "w+b");
    if (!stream->file) {
        error = "cannot create " + path + ": " + strerror(errno);
        return nullptr;
    }
    stream->buffer.Attach(stream->file);
    SF_VIRTUAL_IO io{&StdioFile::Length, &StdioFile::Seek, &StdioFile::Read, &StdioFile::Write, &StdioFile::Tell};
    SNDFILE* file = sf.open_virtual(&io, SFM_WRITE, &info, stream.get());
    if (!file) {
        error = "cannot create " + path + ": " + sf.strerror(nullptr);
        fclose(stream->file);
        return nullptr;
    }
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64)
        sf.command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    if (clip) sf.command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return std::make_unique<WavSink>(sf, file, info.channels, std::move(stream));
}

}  // namespace

std::unique_ptr<OutputSink> OpenWavSink(const std::string& path, const StreamShape& shape, PcmFormat format,
                                        std::string& error) {
    const SndfileApi* sf = LoadSndfile(error);
    if (!sf) return nullptr;
    SF_INFO info{};
    info.channels = shape.channels;
    info.samplerate = static_cast<int>(shape.sampleRate);
    const int subtype = format == PcmFormat::F64 ? SF_FORMAT_DOUBLE
                        : format == PcmFormat::F32 ? SF_FORMAT_FLOAT
                                                   : SF_FORMAT_PCM_24;
    // Written as RF64 and turned into plain WAV at the end when the sizes fit
    // the 32-bit fields, so long decodes never overflow the header.
    info.format = SF_FORMAT_RF64 | subtype;
    if (!sf->format_check(&info)) {
        error = "libsndfile cannot write this WAV format";
        return nullptr;
    }
    // Float samples are stored as delivered; 24-bit integers clip at full scale.
    return OpenSndfileSink(*sf, path, info, format == PcmFormat::S24, error);
}

std::unique_ptr<OutputSink> OpenFlacSink(const std::string& path, const StreamShape& shape, std::string& error) {
    const SndfileApi* sf = LoadSndfile(error);
    if (!sf) return nullptr;
    SF_INFO info{};
    info.channels = shape.channels;
    info.samplerate = static_cast<int>(shape.sampleRate);
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    if (!sf->format_check(&info)) {
        error = "libsndfile cannot write FLAC with " + std::to_string(shape.channels) + " channels at " +
                std::to_string(shape.sampleRate) + " Hz";
        return nullptr;
    }
    // 24-bit integers clip at full scale (the +6 dB setting can exceed it).
    return OpenSndfileSink(*sf, path, info, true, error);
}

#else  // no libsndfile in this build

std::unique_ptr<OutputSink> OpenWavSink(const std::string&, const StreamShape&, PcmFormat, std::string& error) {
    error = "WAV output needs libsndfile, which this build lacks (write raw bytes instead)";
    return nullptr;
}

std::unique_ptr<OutputSink> OpenFlacSink(const std::string&, const StreamShape&, std::string& error) {
    error = "FLAC output needs libsndfile, which this build lacks (write raw bytes instead)";
    return nullptr;
}

#endif
