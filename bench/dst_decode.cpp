// DST frame decoding speed: frames per second of DecodeFrame on encoded
// sigma-delta test frames (one thread, one decoder state).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "dst/DstDecoder.h"
#include "tools/lib/DstEncoder.h"
#include "tools/lib/SigmaDelta.h"

namespace {

std::vector<std::vector<uint8_t>> EncodedFrames(int32_t channels, uint32_t rate, int32_t frames,
                                                const dsdtools::DstEncoderOptions& options) {
    const uint64_t perChannel = static_cast<uint64_t>(DstBytesPerChannel(static_cast<int32_t>(rate))) * frames;
    dsdtools::DsdSignal signal;
    signal.rate = rate;
    for (int32_t c = 0; c < channels; ++c) {
        dsdtools::ChannelSignal ch;
        ch.tones.push_back({440.0 * (c + 1), -8.0, 0});
        ch.tones.push_back({3000.0 + 700 * c, -20.0, 1});
        signal.channels.push_back(ch);
    }
    const dsdtools::DsdStream stream = dsdtools::GenerateDsd(signal, perChannel * 8);
    std::vector<uint8_t> interleaved(perChannel * channels);
    for (uint64_t i = 0; i < perChannel; ++i)
        for (int32_t c = 0; c < channels; ++c) interleaved[i * channels + c] = stream.channels[c][i];
    return dsdtools::DstEncodeStream(interleaved.data(), interleaved.size(), channels, static_cast<int32_t>(rate),
                                     options);
}

// The "DSTF" frames of a DST-compressed DSDIFF file (for comparisons on the
// same file with other decoders), with its channel count and rate.
std::vector<std::vector<uint8_t>> FileFrames(const char* path, int32_t& channels, uint32_t& rate) {
    std::vector<std::vector<uint8_t>> frames;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto be = [&](size_t at, int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | f[at + i];
        return v;
    };
    for (size_t pos = 0; pos + 12 <= f.size(); ++pos) {
        if (std::memcmp(&f[pos], "FS  ", 4) == 0 && pos + 16 <= f.size()) rate = static_cast<uint32_t>(be(pos + 12, 4));
        if (std::memcmp(&f[pos], "CHNL", 4) == 0 && pos + 14 <= f.size()) channels = static_cast<int32_t>(be(pos + 12, 2));
        if (std::memcmp(&f[pos], "DSTF", 4) == 0) {
            const uint64_t size = be(pos + 4, 8);
            if (size > f.size() - pos - 12) break;
            frames.emplace_back(f.begin() + static_cast<std::ptrdiff_t>(pos + 12),
                                f.begin() + static_cast<std::ptrdiff_t>(pos + 12 + size));
            pos += 12 + size + (size & 1) - 1;
        }
    }
    return frames;
}

void DecodeFrames(benchmark::State& state, int32_t channels, uint32_t rate, int32_t order) {
    dsdtools::DstEncoderOptions options;
    options.uncoded = 0;
    if (order > 0) options.fixedOrder = order;
    std::vector<std::vector<uint8_t>> frames;
    if (order < 0) {
        // DST_BENCH_FILE names a DST-compressed DSDIFF file.
        const char* path = std::getenv("DST_BENCH_FILE");
        if (path) frames = FileFrames(path, channels, rate);
        if (frames.empty()) {
            state.SkipWithError("set DST_BENCH_FILE to a DST-compressed DSDIFF file");
            return;
        }
    } else {
        frames = EncodedFrames(channels, rate, 8, options);
    }
    std::unique_ptr<DstFrameDecoder> decoder(new DstFrameDecoder());
    if (Init(decoder.get(), channels, static_cast<int32_t>(rate)) != 0) {
        state.SkipWithError("Init failed");
        return;
    }
    std::vector<uint8_t> out(static_cast<size_t>(decoder->bytesPerFrame));
    size_t coded = 0;
    for (const auto& f : frames) coded += f.size();
    size_t i = 0;
    for (auto _ : state) {
        const auto& f = frames[i++ % frames.size()];
        if (DecodeFrame(decoder.get(), f.data(), f.size(), out.data()) != 0) {
            state.SkipWithError("frame did not decode");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / 75.0, benchmark::Counter::kIsRate);
    // CPU seconds per decoded bit (all channels); times the clock rate this
    // is the cycles per bit.
    state.counters["s_per_bit"] = benchmark::Counter(static_cast<double>(state.iterations()) * 8.0 * static_cast<double>(out.size()),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["ratio"] = static_cast<double>(out.size() * frames.size()) / static_cast<double>(coded);
    Release(decoder.get());
}

}  // namespace

BENCHMARK_CAPTURE(DecodeFrames, stereo_dsd64, 2, dsdtools::kDsd64Rate, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecodeFrames, stereo_dsd64_order128, 2, dsdtools::kDsd64Rate, 128)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecodeFrames, stereo_dsd64_order64, 2, dsdtools::kDsd64Rate, 64)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecodeFrames, six_ch_dsd64, 6, dsdtools::kDsd64Rate, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecodeFrames, stereo_dsd128, 2, dsdtools::kDsd128Rate, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecodeFrames, file, 2, dsdtools::kDsd64Rate, -1)->Unit(benchmark::kMicrosecond);
