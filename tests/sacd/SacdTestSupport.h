// Helpers of the disc-image tests: test signals, images from the builder, and
// reading a track of an opened image to its end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/common/KwMemoryReader.h"
#include "sacd/CSacdIso.h"
#include "tools/lib/SacdImageBuilder.h"
#include "tools/lib/SigmaDelta.h"

namespace sacdtest {

// Interleaved bytes (earliest bit in bit 7) of `frames` 1/75-second frames
// plus `extraBytes`: a sigma-delta tone per channel, which DST compresses.
inline std::vector<uint8_t> Signal(uint32_t channels, uint32_t frames, uint32_t seed, size_t extraBytes = 0) {
    const uint64_t perChannel = uint64_t{dsdtools::kSacdFrameBytesPerChannel} * frames + extraBytes;
    std::vector<uint8_t> out(perChannel * channels);
    dsdtools::DsdSignal signal;
    signal.rate = dsdtools::kSacdRate;
    for (uint32_t c = 0; c < channels; ++c) {
        dsdtools::ChannelSignal ch;
        ch.tones.push_back({500.0 * (c + 1) + 100.0 * seed, -8.0, 0.2 * c});
        signal.channels.push_back(ch);
    }
    const dsdtools::DsdStream stream = dsdtools::GenerateDsd(signal, perChannel * 8);
    for (uint64_t i = 0; i < perChannel; ++i)
        for (uint32_t c = 0; c < channels; ++c) out[i * channels + c] = stream.channels[c][i];
    return out;
}

inline dsdtools::SacdTrackSpec Track(std::vector<uint8_t> dsd, std::string title, std::string performer = "") {
    dsdtools::SacdTrackSpec t;
    t.dsd = std::move(dsd);
    t.title = std::move(title);
    t.performer = std::move(performer);
    return t;
}

// Fast DST settings for tests (the round trip, not the ratio, matters).
inline dsdtools::DstEncoderOptions QuickDst() {
    dsdtools::DstEncoderOptions o;
    o.maxOrder = 16;
    o.filterSegments = 1;
    o.tableSegments = -1;
    return o;
}

// Reads the current track in requests of `chunk` bytes until nothing comes
// (at most `limit` requests).
inline std::vector<uint8_t> ReadAll(CSacdIso& iso, IKwReader* reader, int64_t chunk, int limit = 100000) {
    std::vector<uint8_t> out;
    KwByteBuffer buffer;
    for (int i = 0; i < limit && iso.ReadAudio(reader, chunk, buffer); ++i) {
        if (static_cast<int64_t>(buffer.Size()) > chunk) return {};
        out.insert(out.end(), buffer.Data(), buffer.Data() + buffer.Size());
    }
    return out;
}

}  // namespace sacdtest
