#include "KwArchive.h"

void KwArchive::WriteInt32(int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(v >> shift));
}

void KwArchive::WriteString(KwStringView text) {
    // Longer texts than a 32-bit count can describe do not occur; cut them
    // rather than write a count that does not match the units.
    const size_t units = text.size() > 0x7FFFFFFFu ? 0x7FFFFFFFu : text.size();
    WriteInt32(static_cast<int32_t>(units));
    bytes_.reserve(bytes_.size() + units * 2);
    for (size_t i = 0; i < units; ++i) {
        const auto u = static_cast<uint16_t>(text[i]);
        bytes_.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes_.push_back(static_cast<uint8_t>(u >> 8));
    }
}

bool KwArchive::ReadInt32(size_t& position, int32_t& value) const {
    if (position > bytes_.size() || bytes_.size() - position < 4) return false;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | bytes_[position + static_cast<size_t>(i)];
    value = static_cast<int32_t>(v);
    position += 4;
    return true;
}

bool KwArchive::ReadString(size_t& position, KwString& text) const {
    size_t p = position;
    int32_t units = 0;
    if (!ReadInt32(p, units) || units < 0) return false;
    const auto count = static_cast<size_t>(units);
    if ((bytes_.size() - p) / 2 < count) return false;
    text.resize(count);
    for (size_t i = 0; i < count; ++i)
        text[i] = static_cast<KwChar>(bytes_[p + 2 * i] | (bytes_[p + 2 * i + 1] << 8));
    position = p + count * 2;
    return true;
}

void KwArchive::Assign(const uint8_t* data, size_t size) {
    if (data && size)
        bytes_.assign(data, data + size);
    else
        bytes_.clear();
}
