// Serial buffer of integers and texts (the archive that objects save
// themselves into and load themselves from).
//
// Layout: a 32-bit integer is 4 bytes, least significant first; a text is its
// length in UTF-16 units as such an integer followed by the units, 2 bytes
// each, least significant first. Reading is bounds-checked: a read that would
// go past the end, or a text length that does not fit, fails and leaves the
// read position where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "KwTypes.h"

class KwArchive {
public:
    KwArchive() = default;
    KwArchive(const uint8_t* data, size_t size) { Assign(data, size); }

    void WriteInt32(int32_t value);
    void WriteString(KwStringView text);

    bool ReadInt32(size_t& position, int32_t& value) const;
    bool ReadString(size_t& position, KwString& text) const;

    const uint8_t* Data() const { return bytes_.data(); }
    size_t Size() const { return bytes_.size(); }
    void Assign(const uint8_t* data, size_t size);
    void Clear() { bytes_.clear(); }

private:
    std::vector<uint8_t> bytes_;
};
