// Shared helpers of the DST tests: test signals, a decoder holder and a bit
// writer for hand-made frames.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "dst/DstDecoder.h"
#include "tools/lib/SigmaDelta.h"

namespace dsttest {

// Interleaved DSDIFF-order bytes of a sigma-delta signal: channel c carries a
// sine of 1 kHz × (c + 1) at -6 dB (silence when `idle`); the stream itself
// goes to `streamOut` when given.
inline std::vector<uint8_t> MakeSignal(int32_t channels, uint32_t rate, int32_t frames, bool idle = false,
                                       dsdtools::DsdStream* streamOut = nullptr) {
    const uint64_t bytesPerChannel = static_cast<uint64_t>(DstBytesPerChannel(static_cast<int32_t>(rate))) * frames;
    dsdtools::DsdStream stream;
    if (idle) {
        stream = dsdtools::MakeIdleStream(static_cast<uint32_t>(channels), rate, bytesPerChannel * 8);
    } else {
        dsdtools::DsdSignal signal;
        signal.rate = rate;
        for (int32_t c = 0; c < channels; ++c) signal.channels.push_back({{{1000.0 * (c + 1), -6.0, 0.3 * c}}});
        stream = dsdtools::GenerateDsd(signal, bytesPerChannel * 8);
    }
    std::vector<uint8_t> out(bytesPerChannel * channels);
    for (uint64_t i = 0; i < bytesPerChannel; ++i)
        for (int32_t c = 0; c < channels; ++c) out[i * channels + c] = stream.channels[c][i];
    if (streamOut) *streamOut = std::move(stream);
    return out;
}

struct Decoder {
    std::unique_ptr<DstFrameDecoder> state{new DstFrameDecoder()};
    int32_t initResult;
    Decoder(int32_t channels, int32_t rate) { initResult = Init(state.get(), channels, rate); }
    ~Decoder() { Release(state.get()); }
    size_t FrameBytes() const { return static_cast<size_t>(state->bytesPerFrame); }
    // Decodes into `out` (resized to the frame size plus a guard band that
    // must stay untouched).
    int32_t Decode(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) {
        out.assign(FrameBytes() + 64, 0xEE);
        const int32_t rc = DecodeFrame(state.get(), frame.data(), frame.size(), out.data());
        for (size_t i = FrameBytes(); i < out.size(); ++i)
            if (out[i] != 0xEE) return -1;
        out.resize(FrameBytes());
        return rc;
    }
};

class Bits {
public:
    std::vector<uint8_t> bytes;
    uint64_t count = 0;
    Bits& Put(uint64_t v, int32_t n) {
        for (int32_t i = n - 1; i >= 0; --i) {
            if ((count & 7) == 0) bytes.push_back(0);
            if ((v >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80u >> (count & 7));
            ++count;
        }
        return *this;
    }
};

inline bool AllBytes(const std::vector<uint8_t>& v, uint8_t b) {
    for (uint8_t x : v)
        if (x != b) return false;
    return !v.empty();
}

}  // namespace dsttest
