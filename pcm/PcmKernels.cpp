#include "pcm/PcmKernels.h"

#include <atomic>

#include "pcm/IIRPairKernel.h"  // KW_PCM_SSE2

namespace {

PcmKernelSet Detect() {
#if KW_PCM_AVX2
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        return PcmKernelSet::kAvx2;
    }
#endif
    return KW_PCM_SSE2 ? PcmKernelSet::kSse2 : PcmKernelSet::kPortable;
}

// 0xFF: not chosen yet.
std::atomic<uint8_t> g_active{0xFF};

}  // namespace

PcmKernelSet SupportedPcmKernels() {
    static const PcmKernelSet supported = Detect();
    return supported;
}

PcmKernelSet ActivePcmKernels() {
    const uint8_t active = g_active.load(std::memory_order_relaxed);
    if (active != 0xFF) {
        return static_cast<PcmKernelSet>(active);
    }
    const PcmKernelSet supported = SupportedPcmKernels();
    g_active.store(static_cast<uint8_t>(supported), std::memory_order_relaxed);
    return supported;
}

PcmKernelSet SelectPcmKernels(PcmKernelSet wanted) {
    const PcmKernelSet supported = SupportedPcmKernels();
    const PcmKernelSet chosen = static_cast<uint8_t>(wanted) > static_cast<uint8_t>(supported) ? supported : wanted;
    g_active.store(static_cast<uint8_t>(chosen), std::memory_order_relaxed);
    return chosen;
}

const char* PcmKernelSetName(PcmKernelSet set) {
    switch (set) {
    case PcmKernelSet::kAvx2:
        return "avx2";
    case PcmKernelSet::kSse2:
        return "sse2";
    default:
        return "portable";
    }
}
