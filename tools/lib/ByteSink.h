// Little helpers for building binary files in memory: append integers in either
// byte order, four-character identifiers, and patch sizes afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dsdtools {

class ByteSink {
public:
    std::vector<uint8_t> bytes;

    size_t Size() const { return bytes.size(); }

    void U8(uint8_t v) { bytes.push_back(v); }
    void U16BE(uint16_t v) { PutBE(v, 2); }
    void U32BE(uint32_t v) { PutBE(v, 4); }
    void U64BE(uint64_t v) { PutBE(v, 8); }
    void U16LE(uint16_t v) { PutLE(v, 2); }
    void U32LE(uint32_t v) { PutLE(v, 4); }
    void U64LE(uint64_t v) { PutLE(v, 8); }

    // A four-character identifier; shorter texts are padded with spaces.
    void Id(std::string_view id) {
        for (size_t i = 0; i < 4; ++i) bytes.push_back(i < id.size() ? static_cast<uint8_t>(id[i]) : ' ');
    }
    void Append(const uint8_t* data, size_t n) { bytes.insert(bytes.end(), data, data + n); }
    void Append(const std::vector<uint8_t>& data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
    void Fill(uint8_t v, size_t n) { bytes.insert(bytes.end(), n, v); }

    void PatchU64BE(size_t at, uint64_t v) { PatchBE(at, v, 8); }
    void PatchU64LE(size_t at, uint64_t v) {
        for (size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }

private:
    void PutBE(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void PutLE(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void PatchBE(size_t at, uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
    }
};

// Writes `data` to `path`, replacing the file. False when the file cannot be
// created or not every byte is written.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data);

}  // namespace dsdtools
