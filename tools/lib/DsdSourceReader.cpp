#include "tools/lib/DsdSourceReader.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace dsdtools {
namespace {

uint64_t LE(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint64_t BE(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

uint8_t Reverse(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

bool ParseDsf(const std::vector<uint8_t>& f, DsdSource& out) {
    if (f.size() < 28 + 52 + 12 || std::memcmp(f.data() + 28, "fmt ", 4) != 0) return false;
    const uint8_t* fmt = f.data() + 28;
    const uint64_t channels = LE(fmt + 24, 4);
    const uint64_t rate = LE(fmt + 28, 4);
    const uint64_t bitsPerSample = LE(fmt + 32, 4);
    const uint64_t samples = LE(fmt + 36, 8);
    const uint64_t block = LE(fmt + 44, 4);
    const uint64_t fmtSize = LE(fmt + 4, 8);
    if (channels < 1 || channels > 6 || block < 1 || fmtSize > f.size() - 28) return false;
    const uint8_t* data = fmt + fmtSize;
    if (static_cast<size_t>(data - f.data()) + 12 > f.size() || std::memcmp(data, "data", 4) != 0) return false;
    const uint64_t avail = f.size() - static_cast<size_t>(data - f.data()) - 12;
    const uint64_t dataSize = std::min<uint64_t>(LE(data + 4, 8) - 12, avail);
    const uint8_t* audio = data + 12;
    const uint64_t perChannel = (samples + 7) / 8;
    const uint64_t blocks = dataSize / (block * channels);
    if (perChannel > blocks * block) return false;
    out.channels = static_cast<uint32_t>(channels);
    out.rate = static_cast<uint32_t>(rate);
    out.sampleCount = samples;
    out.interleaved.assign(perChannel * channels, 0);
    for (uint64_t i = 0; i < perChannel; ++i) {
        for (uint64_t c = 0; c < channels; ++c) {
            const uint8_t b = audio[(i / block) * block * channels + c * block + i % block];
            out.interleaved[i * channels + c] = bitsPerSample == 1 ? Reverse(b) : b;
        }
    }
    return true;
}

bool ParseDsdiff(const std::vector<uint8_t>& f, DsdSource& out) {
    if (f.size() < 16 || std::memcmp(f.data() + 12, "DSD ", 4) != 0) return false;
    uint32_t channels = 2, rate = 2822400;
    bool plain = false;
    size_t pos = 16;
    while (pos + 12 <= f.size()) {
        const uint8_t* h = f.data() + pos;
        const uint64_t size = BE(h + 4, 8);
        const size_t body = pos + 12;
        if (size > f.size() - body) return false;
        if (std::memcmp(h, "PROP", 4) == 0 && size >= 4) {
            size_t p = body + 4;
            while (p + 12 <= body + size) {
                const uint8_t* s = f.data() + p;
                const uint64_t ss = BE(s + 4, 8);
                if (ss > body + size - p - 12) return false;
                if (std::memcmp(s, "FS  ", 4) == 0 && ss >= 4) rate = static_cast<uint32_t>(BE(s + 12, 4));
                if (std::memcmp(s, "CHNL", 4) == 0 && ss >= 2) channels = static_cast<uint32_t>(BE(s + 12, 2));
                if (std::memcmp(s, "CMPR", 4) == 0 && ss >= 4) plain = std::memcmp(s + 12, "DSD ", 4) == 0;
                p += 12 + ss + (ss & 1);
            }
        } else if (std::memcmp(h, "DSD ", 4) == 0) {
            if (!plain || channels < 1 || channels > 6) return false;
            out.channels = channels;
            out.rate = rate;
            const uint64_t perChannel = size / channels;
            out.sampleCount = perChannel * 8;
            out.interleaved.assign(f.begin() + static_cast<std::ptrdiff_t>(body),
                                   f.begin() + static_cast<std::ptrdiff_t>(body + perChannel * channels));
            return true;
        }
        pos = body + size + (size & 1);
    }
    return false;
}

}  // namespace

bool ParseDsdSource(const std::vector<uint8_t>& file, DsdSource& out) {
    out = DsdSource{};
    if (file.size() >= 4 && std::memcmp(file.data(), "DSD ", 4) == 0) return ParseDsf(file, out);
    if (file.size() >= 4 && std::memcmp(file.data(), "FRM8", 4) == 0) return ParseDsdiff(file, out);
    return false;
}

bool ReadDsdSource(const std::string& path, DsdSource& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseDsdSource(file, out);
}

}  // namespace dsdtools
