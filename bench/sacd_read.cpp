// Disc-image track delivery speed. "realtime_x" is seconds of audio per
// second of wall time.
//  - Native: a 60-second stereo plain track read to its end in 1 MiB requests.
//  - Dst: a stereo DST-coded track with one decoding thread, against the same
//    frames fed the way the DSDIFF reader feeds them (one "DSTF" chunk after
//    the other, one thread), so the figures compare per thread.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "dst/DstPipeline.h"
#include "host/common/KwMemoryReader.h"
#include "sacd/CSacdIso.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/SacdImageBuilder.h"
#include "tools/lib/SigmaDelta.h"

namespace {

constexpr uint32_t kDstFrames = 75;

std::shared_ptr<const std::vector<uint8_t>> PlainImage() {
    static std::shared_ptr<const std::vector<uint8_t>> image = [] {
        dsdtools::SacdAreaSpec stereo;
        dsdtools::SacdTrackSpec track;
        track.dsd.resize(size_t{60} * 75 * 2 * dsdtools::kSacdFrameBytesPerChannel);
        std::mt19937 rng(7);
        for (auto& b : track.dsd) b = static_cast<uint8_t>(rng());
        stereo.tracks.push_back(std::move(track));
        dsdtools::SacdImage built;
        dsdtools::BuildSacdImage(dsdtools::SacdImageOptions(), stereo, nullptr, built);
        return std::make_shared<const std::vector<uint8_t>>(std::move(built.bytes));
    }();
    return image;
}

std::vector<uint8_t> ToneFrames() {
    const uint64_t perChannel = uint64_t{kDstFrames} * dsdtools::kSacdFrameBytesPerChannel;
    dsdtools::DsdSignal signal;
    signal.rate = dsdtools::kSacdRate;
    for (int c = 0; c < 2; ++c) {
        dsdtools::ChannelSignal ch;
        ch.tones.push_back({440.0 * (c + 1), -8.0, 0});
        ch.tones.push_back({3000.0 + 700 * c, -20.0, 1});
        signal.channels.push_back(ch);
    }
    const dsdtools::DsdStream stream = dsdtools::GenerateDsd(signal, perChannel * 8);
    std::vector<uint8_t> out(perChannel * 2);
    for (uint64_t i = 0; i < perChannel; ++i)
        for (int c = 0; c < 2; ++c) out[i * 2 + c] = stream.channels[c][i];
    return out;
}

struct DstInputs {
    std::vector<std::vector<uint8_t>> frames;
    std::shared_ptr<const std::vector<uint8_t>> image;
};

const DstInputs& Dst() {
    static const DstInputs inputs = [] {
        DstInputs in;
        dsdtools::DstEncoderOptions o;
        o.uncoded = 0;
        const std::vector<uint8_t> dsd = ToneFrames();
        in.frames = dsdtools::DstEncodeStream(dsd.data(), dsd.size(), 2, dsdtools::kSacdRate, o);
        dsdtools::SacdAreaSpec stereo;
        stereo.dst = true;
        dsdtools::SacdTrackSpec track;
        track.dsd = dsd;
        stereo.tracks.push_back(std::move(track));
        dsdtools::SacdImageOptions io;
        io.dstOptions = o;
        dsdtools::SacdImage built;
        dsdtools::BuildSacdImage(io, stereo, nullptr, built);
        in.image = std::make_shared<const std::vector<uint8_t>>(std::move(built.bytes));
        return in;
    }();
    return inputs;
}

// Reads track 1 of the image to its end; returns the bytes delivered.
size_t ReadTrack(const std::shared_ptr<const std::vector<uint8_t>>& image, int32_t threads) {
    KwMemoryReader reader(image);
    CSacdIso iso(threads);
    if (!iso.Open(&reader) || !iso.SelectTrack(&reader, 0)) return 0;
    KwByteBuffer out;
    size_t total = 0;
    while (iso.ReadAudio(&reader, 1 << 20, out)) total += out.Size();
    return total;
}

void BM_SacdNativePlain60s(benchmark::State& state) {
    const auto image = PlainImage();
    size_t bytes = 0;
    for (auto _ : state) bytes = ReadTrack(image, 1);
    if (bytes != size_t{60} * 75 * 2 * dsdtools::kSacdFrameBytesPerChannel) state.SkipWithError("short track");
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.counters["realtime_x"] = benchmark::Counter(60.0 * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

void BM_SacdDstTrack(benchmark::State& state) {
    const DstInputs& in = Dst();
    size_t bytes = 0;
    for (auto _ : state) bytes = ReadTrack(in.image, static_cast<int32_t>(state.range(0)));
    if (bytes != size_t{kDstFrames} * 2 * dsdtools::kSacdFrameBytesPerChannel) state.SkipWithError("short track");
    state.counters["realtime_x"] = benchmark::Counter(kDstFrames / 75.0 * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

// The same frames as a DSDIFF reader hands them over: one at a time into the
// pipeline, collecting without waiting, a waiting collection at the end.
void BM_DsdiffDstFrames(benchmark::State& state) {
    const DstInputs& in = Dst();
    size_t bytes = 0;
    for (auto _ : state) {
        CDstDecoder decoder(2, dsdtools::kSacdRate, static_cast<int32_t>(state.range(0)));
        KwByteBuffer frame, out;
        for (const auto& f : in.frames) {
            frame.Clear();
            frame.Append(f.data(), f.size());
            decoder.SubmitFrame(frame);
            decoder.FetchDecoded(out, false);
        }
        decoder.FetchDecoded(out, true);
        bytes = out.Size();
    }
    if (bytes != size_t{kDstFrames} * 2 * dsdtools::kSacdFrameBytesPerChannel) state.SkipWithError("short output");
    state.counters["realtime_x"] = benchmark::Counter(kDstFrames / 75.0 * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_SacdNativePlain60s)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SacdDstTrack)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DsdiffDstFrames)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
