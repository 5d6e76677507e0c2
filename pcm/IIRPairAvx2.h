// AVX2 kernel for two low-pass filters side by side, two sections per 256-bit
// register: lanes 0-1 hold section 2r of filters a and b, lanes 2-3 section
// 2r + 1. It runs without the flush to zero, like IIRPairKernel::RunUnflushed,
// and reports whether the flush would have changed anything.
#pragma once

#include <cstddef>

// Coefficients and state of filters a (index 0) and b (index 1) by section.
struct IIRPairLanes {
    unsigned sections = 0;  // 2 or 4
    bool lowPass = false;   // every numerator is 1 + 2 z^-1 + z^-2
    double gain[2] = {};
    double fb1[4][2] = {}, fb2[4][2] = {}, ff1[4][2] = {}, ff2[4][2] = {};
    double w1[4][2] = {}, w2[4][2] = {};
};

// m frames in place: filter a over data[j * stride], b over data[j * stride + 1].
// The inputs are copied to saved[2 j], saved[2 j + 1]. True when no value
// occurred that the flush would have replaced: then every output and the new
// state in lanes equal those of the flushed scalar filters. On false the
// outputs and lanes' state are of no use. Only for processors with AVX2.
bool iir_pair_unflushed_avx2(IIRPairLanes& lanes, double* data, size_t stride, size_t m, double* saved);
