// DecodeFrame on arbitrary bytes: the first byte picks the channel count
// (1..6, bits 0-2) and the frame size (bits 3-5); the rest, up to the
// largest frame of that layout, is the frame. Nothing may be read or written outside the buffers,
// and a failure must leave 0x55 silence.
//
// The decoder works the same for any frame size, and its cost grows with the
// bits of a frame: frames of 147 and 588 bytes per channel (the rates 88200
// and 352800) keep most runs well below a millisecond, while the DSD64 size
// (4704 bytes, at most two channels) keeps the real layout in play.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "dst/DstDecoder.h"

namespace {

struct Slot {
    std::unique_ptr<DstFrameDecoder> state;
    std::vector<uint8_t> out;
    ~Slot() {
        if (state) Release(state.get());
    }
};

Slot& Get(int32_t channels, int32_t rateIndex) {
    static Slot slots[kDstMaxChannels][3];
    Slot& s = slots[channels - 1][rateIndex];
    if (!s.state) {
        static const int32_t rates[3] = {88200, 352800, 2822400};
        s.state.reset(new DstFrameDecoder());
        if (Init(s.state.get(), channels, rates[rateIndex]) != 0) std::abort();
        s.out.resize(static_cast<size_t>(s.state->bytesPerFrame) + 64);
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Bits 3-5 pick the frame size: 2 the DSD64 size (one value in eight: it
    // costs 32 times the smallest), odd values 352800, the others 88200.
    const uint32_t sizeBits = (data[0] >> 3) & 7;
    const int32_t rateIndex = sizeBits == 2 ? 2 : static_cast<int32_t>(sizeBits & 1);
    const int32_t channels = 1 + (data[0] & 7) % (rateIndex == 2 ? 2 : kDstMaxChannels);
    Slot& slot = Get(channels, rateIndex);
    const size_t frameBytes = static_cast<size_t>(slot.state->bytesPerFrame);
    size_t n = size - 1;
    if (n > frameBytes + 1) n = frameBytes + 1;
    // An exact-size copy so that reading past the frame is caught.
    std::vector<uint8_t> frame(data + 1, data + 1 + n);
    std::memset(slot.out.data() + frameBytes, 0xEE, 64);
    const int32_t rc = DecodeFrame(slot.state.get(), frame.data(), frame.size(), slot.out.data());
    if (rc < 0 || rc > 15) std::abort();
    for (size_t i = frameBytes; i < slot.out.size(); ++i)
        if (slot.out[i] != 0xEE) std::abort();
    if (rc != 0)
        for (size_t i = 0; i < frameBytes; ++i)
            if (slot.out[i] != 0x55) std::abort();
    return 0;
}
