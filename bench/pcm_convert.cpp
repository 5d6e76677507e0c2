// Throughput of the DSD-to-PCM conversion per low-pass mode. Items are PCM
// samples (frames x channels). The "Minute" cases convert 60 s of stereo
// DSD64 in DSF-sized blocks, so their time per iteration is the wall time of
// converting a one-minute file.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "pcm/ConvertToPCM.h"
#include "pcm/ConvertToPCMContext.h"
#include "pcm/PcmKernels.h"

namespace {

constexpr size_t kBlock = 4096;  // bytes per channel of one DSF block group

std::vector<uint8_t> RandomBytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    std::mt19937 rng(42);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// args: mode, channels, interleaved (1) or planar LSB-first (0), kernel set
// (PcmKernelSet; the supported one when the processor lacks it)
void BM_ConvertToPCM(benchmark::State& state) {
    const auto mode = static_cast<uint32_t>(state.range(0));
    const auto channels = static_cast<uint32_t>(state.range(1));
    const bool interleaved = state.range(2) != 0;
    const PcmKernelSet kernels = SelectPcmKernels(static_cast<PcmKernelSet>(state.range(3)));
    state.SetLabel(PcmKernelSetName(kernels));
    auto* context = TakeConvertContext(channels, 352800, mode);
    const std::vector<uint8_t> block = RandomBytes(kBlock * channels);
    std::vector<double> out(kBlock * channels);
    for (auto _ : state) {
        if (interleaved) {
            ConvertToPCM(*context, block.data(), kBlock, 1, channels, false, false, out.data());
        } else {
            ConvertToPCM(*context, block.data(), kBlock, kBlock, 1, true, false, out.data());
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlock * channels);
    ReturnConvertContext(context);
    SelectPcmKernels(SupportedPcmKernels());
}

void BM_ConvertMinuteStereoDsd64(benchmark::State& state) {
    const auto mode = static_cast<uint32_t>(state.range(0));
    const size_t groups = (2822400 / 8 * 60 + kBlock - 1) / kBlock;
    // A few distinct groups repeated: the data is read from cache as a file would be after read-ahead.
    const std::vector<uint8_t> data = RandomBytes(kBlock * 2 * 16);
    std::vector<double> out(kBlock * 2);
    auto* context = TakeConvertContext(2, 352800, mode);
    for (auto _ : state) {
        for (size_t g = 0; g < groups; ++g) {
            ConvertToPCM(*context, data.data() + (g % 16) * kBlock * 2, kBlock, kBlock, 1, true, false, out.data());
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * groups * kBlock * 2));
    ReturnConvertContext(context);
}

void ModeArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"mode", "channels", "interleaved", "kernels"});
    for (int kernels = 0; kernels <= 2; ++kernels) {
        for (int mode = 0; mode <= 3; ++mode) {
            b->Args({mode, 2, 0, kernels});
        }
        for (int mode : {0, 3}) {
            b->Args({mode, 1, 1, kernels});
            b->Args({mode, 2, 1, kernels});
            b->Args({mode, 6, 1, kernels});
        }
    }
}

}  // namespace

BENCHMARK(BM_ConvertToPCM)->Apply(ModeArgs);
BENCHMARK(BM_ConvertMinuteStereoDsd64)->ArgName("mode")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
