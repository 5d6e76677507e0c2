// Shared pieces of the fuzz targets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "plugin/kwapi/VBaseReader.h"
#include "support/KwTypes.h"

namespace fuzz {

// An in-memory file that may deliver reads in small pieces (reads never
// return more than `piece` bytes) and accepts writes up to 16 MiB.
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

// A hash of the whole input (FNV-1a). Costly paths that a harness lets
// through in one run of N are chosen by it rather than by a control byte:
// mutations keep a control byte, so the fuzzer's corpus would gather the
// inputs that take the costly path; a hash changes with every mutation.
__attribute__((no_sanitize("coverage"))) inline uint32_t InputHash(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

// Unpaired surrogates cannot travel in XML text.
inline bool HasUnpairedSurrogate(KwStringView s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const auto u = static_cast<uint16_t>(s[i]);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && static_cast<uint16_t>(s[i + 1]) >= 0xDC00 &&
            static_cast<uint16_t>(s[i + 1]) <= 0xDFFF) {
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

}  // namespace fuzz
