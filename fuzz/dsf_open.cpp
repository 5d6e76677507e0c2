// Opens arbitrary bytes as a DSF file and reads them in all three output forms
// with seeks in between, then rewrites the tag. The last four input bytes steer
// the run (frames per read, reader piece size, seek times); the rest is the file.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dsdfile/CDSDFile.h"
#include "plugin/kwapi/VBaseReader.h"
#include "tags/KwXMLFilename.h"

namespace {

// A writable in-memory file that may deliver reads in small pieces.
class FuzzReader : public VBaseReader {
public:
    FuzzReader(std::vector<uint8_t>& bytes, int32_t piece) : bytes_(bytes), piece_(piece) { open_ = 1; }
    bool Open() override { return true; }
    void Abort() override {}
    int32_t Read(void* buffer, int32_t count) override {
        if (count <= 0 || position_ >= static_cast<int64_t>(bytes_.size())) return 0;
        const int64_t n = std::min<int64_t>({count, static_cast<int64_t>(bytes_.size()) - position_, piece_});
        std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
        position_ += n;
        return static_cast<int32_t>(n);
    }
    int32_t Write(const void* buffer, int32_t count) override {
        if (count < 0 || position_ + count > (int64_t{1} << 24)) return -1;
        if (bytes_.size() < static_cast<size_t>(position_ + count)) bytes_.resize(static_cast<size_t>(position_ + count));
        std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
        position_ += count;
        return count;
    }
    int64_t GetSize() override { return static_cast<int64_t>(bytes_.size()); }
    int64_t GetPosition() override { return position_; }
    int64_t Seek(int64_t offset, int32_t origin) override {
        position_ = ResolvePosition(position_, offset, origin);
        return position_;
    }
    bool Truncate() override {
        if (position_ < static_cast<int64_t>(bytes_.size())) bytes_.resize(static_cast<size_t>(position_));
        return true;
    }
    bool HasCapability(int32_t) override { return false; }

private:
    std::vector<uint8_t>& bytes_;
    int32_t piece_;
    int64_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint8_t* control = data + size - 4;
    const std::vector<uint8_t> original(data, data + size - 4);
    const uint32_t frames = 1u + ((control[0] | control[1] << 8) & 0x1FFF);
    const int32_t piece = (control[2] & 0x80) ? 1 + (control[2] & 0x7F) : INT32_MAX;
    const double seekTimes[] = {control[3] * 0.25, -1.0, 0.0, 1e12, control[3] * 13.0};

    KwXMLFilename name(KW_T("fuzz.dsf"));
    name.Items().SetString(KW_T("FileType"), KW_T("dsf"));
    const uint32_t modes[] = {kOutputNativeDsd, kOutputPackedDsdA, kOutputPackedDsdB, 0};
    for (uint32_t mode : modes) {
        std::vector<uint8_t> bytes = original;
        CDSDFile file;
        file.SetAdd6dB(control[2] & 1);
        if (!file.Open(new FuzzReader(bytes, piece), 1, mode, (control[0] & 1) ? 2822400 : 0, name)) continue;
        const CAudioFormat& out = file.OutputFormat();
        const size_t frameBytes = out.BlockAlign() ? out.BlockAlign() : 1;
        // Exactly what the caller asked for, so that any overrun is caught.
        std::vector<uint8_t> buffer(frames * frameBytes);
        (void)file.GetDuration();
        for (double t : seekTimes) {
            for (int i = 0; i < 4; ++i) {
                const uint32_t got = file.ReadSamples(buffer.data(), frames);
                if (got > buffer.size()) __builtin_trap();
                if (got == 0) break;
            }
            file.Seek(t);
        }

        // Rewriting the tag never touches the audio.
        const int64_t audioEnd = file.DataStart() + file.DataLength();
        const uint8_t tag[] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 1, 0};
        file.SaveTag(tag, control[1] & 1 ? sizeof(tag) : 0);
        if (bytes.size() < static_cast<size_t>(audioEnd) ||
            !std::equal(original.begin() + 28, original.begin() + audioEnd, bytes.begin() + 28))
            __builtin_trap();
    }
    return 0;
}
