// Helpers of the DSDIFF tests: a chunk-by-chunk file builder for headers the
// writer does not make, opening through an in-memory reader, and readers of
// every output form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dsdfile/CDSDFile.h"
#include "tests/dsdfile/DsfTestSupport.h"
#include "tools/lib/SigmaDelta.h"

namespace dfftest {

using dsftest::MemoryReader;

inline void PutBe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// One chunk: ID, size (the body's, unless overridden), body, and the pad byte
// of an odd size unless `pad` is false.
inline std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& body,
                                  std::optional<uint64_t> sizeOverride = std::nullopt, bool pad = true) {
    std::vector<uint8_t> out(id, id + 4);
    PutBe(out, sizeOverride ? *sizeOverride : body.size(), 8);
    out.insert(out.end(), body.begin(), body.end());
    if (pad && (body.size() & 1)) out.push_back(0);
    return out;
}

inline std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::vector<uint8_t> Be(uint64_t value, int bytes) {
    std::vector<uint8_t> out;
    PutBe(out, value, bytes);
    return out;
}

inline std::vector<uint8_t> Text(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

// "FRM8", its size and "DSD ", then the chunks.
inline std::vector<uint8_t> Form(const std::vector<uint8_t>& chunks) {
    std::vector<uint8_t> out = Text("FRM8");
    PutBe(out, chunks.size() + 4, 8);
    const auto type = Text("DSD ");
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}

// A "PROP"/"SND " chunk with the given sub-chunks.
inline std::vector<uint8_t> Prop(const std::vector<uint8_t>& subChunks) {
    return Chunk("PROP", Cat({Text("SND "), subChunks}));
}
inline std::vector<uint8_t> Fs(uint32_t rate) { return Chunk("FS  ", Be(rate, 4)); }
inline std::vector<uint8_t> Chnl(uint16_t channels) {
    std::vector<uint8_t> body = Be(channels, 2);
    for (uint16_t c = 0; c < channels; ++c) {
        const auto id = Text("C000");
        body.insert(body.end(), id.begin(), id.end());
    }
    return Chunk("CHNL", body);
}
inline std::vector<uint8_t> Cmpr(const char* type) {
    return Chunk("CMPR", Cat({Text(type), {4}, Text("name")}));  // odd size: a pad byte follows
}
inline std::vector<uint8_t> Frte(uint32_t frames) { return Chunk("FRTE", Cat({Be(frames, 4), Be(75, 2)})); }

// The bytes of a stream interleaved by channel (the order DSDIFF stores).
inline std::vector<uint8_t> Interleave(const dsdtools::DsdStream& stream) {
    std::vector<uint8_t> out;
    const size_t bytes = stream.BytesPerChannel();
    for (size_t k = 0; k < bytes; ++k)
        for (const auto& channel : stream.channels) out.push_back(channel[k]);
    return out;
}

// Interleaved bytes with output slot `slot` fed by `sources[slot]` (-1: 0x69).
inline std::vector<uint8_t> Remap(const std::vector<uint8_t>& interleaved, size_t channels,
                                  const std::vector<int>& sources) {
    std::vector<uint8_t> out;
    for (size_t k = 0; k + channels <= interleaved.size(); k += channels)
        for (int s : sources) out.push_back(s < 0 ? 0x69 : interleaved[k + size_t(s)]);
    return out;
}

inline dsdtools::DsdStream Tones(uint32_t channels, uint32_t rate, uint64_t samples) {
    dsdtools::DsdSignal signal;
    signal.rate = rate;
    for (uint32_t c = 0; c < channels; ++c) signal.channels.push_back({{{700.0 + 900.0 * c, -6.0, 0.5 * c}}});
    return dsdtools::GenerateDsd(signal, samples);
}

inline bool OpenDff(CDSDFile& file, std::vector<uint8_t> bytes, uint32_t modes, MemoryReader** readerOut = nullptr,
                    int32_t highest = 0) {
    auto* reader = new MemoryReader(std::move(bytes));
    if (readerOut) *readerOut = reader;
    return file.Open(reader, 1, modes, highest, dsftest::FileNameOfType(KW_T("dff")));
}

using dsftest::ReadAllBytes;

inline std::vector<double> AsDoubles(const std::vector<uint8_t>& bytes) {
    std::vector<double> out(bytes.size() / 8);
    std::memcpy(out.data(), bytes.data(), out.size() * 8);
    return out;
}

}  // namespace dfftest
