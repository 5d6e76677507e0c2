// Disc-image track delivery speed. "realtime_x" is seconds of audio per
// second of wall time.
//  - Native: a 60-second stereo plain track read to its end in 1 MiB requests,
//    from the image object and through CDSDFile's native DSD output.
//  - Dst: the same DST-coded frames (1 s of stereo) as a disc-image track and
//    as a DSDIFF file, with one and two decoding threads.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "dsdfile/CDSDFile.h"
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
    std::shared_ptr<const std::vector<uint8_t>> dsdiff;
    std::shared_ptr<const std::vector<uint8_t>> image;
};

const DstInputs& Dst() {
    static const DstInputs inputs = [] {
        DstInputs in;
        dsdtools::DstEncoderOptions o;
        o.uncoded = 0;
        const std::vector<uint8_t> dsd = ToneFrames();
        dsdtools::SacdTrackSpec track;
        track.dstFrames = dsdtools::DstEncodeStream(dsd.data(), dsd.size(), 2, dsdtools::kSacdRate, o);
        in.dsdiff = std::make_shared<const std::vector<uint8_t>>(
            dsdtools::BuildDsdiffDst(2, dsdtools::kSacdRate, track.dstFrames));
        dsdtools::SacdAreaSpec stereo;
        stereo.dst = true;
        stereo.tracks.push_back(std::move(track));
        dsdtools::SacdImage built;
        dsdtools::BuildSacdImage(dsdtools::SacdImageOptions(), stereo, nullptr, built);
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

void BM_CDSDFileNativeSacd60s(benchmark::State& state) {
    const auto image = PlainImage();
    KwXMLFilename name(KW_T("bench.iso"));
    name.Items().SetString(KW_T("FileType"), KW_T("iso"), false);
    std::vector<uint8_t> out(1 << 20);
    size_t bytes = 0;
    for (auto _ : state) {
        CDSDFile file;
        if (!file.Open(new KwMemoryReader(image), 1, kOutputNativeDsd, 0, name)) {
            state.SkipWithError("open failed");
            break;
        }
        bytes = 0;
        while (const uint32_t n = file.ReadBytes(out.data(), static_cast<uint32_t>(out.size()))) bytes += n;
    }
    if (bytes != size_t{60} * 75 * 2 * dsdtools::kSacdFrameBytesPerChannel) state.SkipWithError("short track");
    state.counters["realtime_x"] = benchmark::Counter(60.0 * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

// The same DST frames from a disc image and from a DSDIFF file, both through
// CDSDFile's native output with the given number of decoding threads.
void BM_DstFrames(benchmark::State& state) {
    const DstInputs& in = Dst();
    const bool image = state.range(0) == 1;
    KwXMLFilename name(image ? KW_T("bench.iso") : KW_T("bench.dff"));
    name.Items().SetString(KW_T("FileType"), image ? KW_T("iso") : KW_T("dff"), false);
    CDsdOpenOptions options;
    options.dstThreads = static_cast<int32_t>(state.range(1));
    const auto bytes = image ? in.image : in.dsdiff;
    std::vector<uint8_t> out(1 << 20);
    size_t total = 0;
    for (auto _ : state) {
        CDSDFile file;
        if (!file.Open(new KwMemoryReader(bytes), 1, kOutputNativeDsd, 0, name, options)) {
            state.SkipWithError("open failed");
            break;
        }
        total = 0;
        while (const uint32_t n = file.ReadBytes(out.data(), static_cast<uint32_t>(out.size()))) total += n;
    }
    if (total != size_t{kDstFrames} * 2 * dsdtools::kSacdFrameBytesPerChannel) state.SkipWithError("short output");
    state.counters["realtime_x"] = benchmark::Counter(kDstFrames / 75.0 * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_SacdNativePlain60s)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CDSDFileNativeSacd60s)->Unit(benchmark::kMillisecond)->UseRealTime();
// Args: source (0 DSDIFF, 1 disc image), decoding threads.
BENCHMARK(BM_DstFrames)->Args({0, 1})->Args({1, 1})->Args({0, 2})->Args({1, 2})->Unit(benchmark::kMillisecond)->UseRealTime();
