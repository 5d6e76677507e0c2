// Choice of the instruction set the PCM conversion kernels use, made once
// from what the processor reports and overridable (tests run every path the
// machine can execute; benchmarks compare them).
#pragma once

#include <cstdint>

enum class PcmKernelSet : uint8_t {
    kPortable = 0,  // plain C++ (and whatever the compiler's baseline allows, SSE2 on x86-64)
    kSse2 = 1,      // explicit SSE2 kernels
    kAvx2 = 2,      // AVX2 kernels where they exist, SSE2 elsewhere
};

// The best set this processor and build support.
PcmKernelSet SupportedPcmKernels();
// The set in use (the supported one unless SelectPcmKernels chose another).
PcmKernelSet ActivePcmKernels();
// Selects a set, lowered to the supported one when asked for more; returns the
// set now in use. Not meant to be called while conversions run.
PcmKernelSet SelectPcmKernels(PcmKernelSet wanted);
const char* PcmKernelSetName(PcmKernelSet set);

// The AVX2 kernels are compiled only for x86 with GCC or Clang.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KW_PCM_AVX2 1
#else
#define KW_PCM_AVX2 0
#endif
