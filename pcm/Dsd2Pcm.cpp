#include "pcm/Dsd2Pcm.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "pcm/Dsd2PcmKernels.h"
#include "pcm/PcmKernels.h"

namespace {

// One half of the symmetric filter; the whole filter is h[47] … h[0], h[0] … h[47].
constexpr double kHalfFilter[48] = {
    0.09950731974056658,    0.09562845727714668,    0.08819647126516944,    0.07782552527068175,
    0.06534876523171299,    0.05172629311427257,    0.0379429484910187,     0.02490921351762261,
    0.0133774746265897,     0.003883043418804416,   -0.003284703416210726,  -0.008080250212687497,
    -0.01067241812471033,   -0.01139427235000863,   -0.0106813877974587,    -0.00900790507876605,
    -0.006828859761015335,  -0.004535184322001496,  -0.002425035959059578,  -0.0006922187080790708,
    0.0005700762133516592,  0.001353838005269448,   0.001713709169690937,   0.001742046839472948,
    0.001545601648013235,   0.001226696225277855,   0.0008704322683580222,  0.000538163620053565,
    0.000266446345425276,   7.002968738383528e-05,  -5.279407053811266e-05, -0.0001140625650874684,
    -0.0001304796361231895, -0.0001189970287491285, -9.396247155265073e-05, -6.577634378272832e-05,
    -4.07492895872535e-05,  -2.17407957554587e-05,  -9.163058931391722e-06, -2.017460145032201e-06,
    1.249721855219005e-06,  2.166655190537392e-06,  1.930520892991082e-06,  1.319400334374195e-06,
    7.410039764949091e-07,  3.423230509967409e-07,  1.244182214744588e-07,  3.130441005359396e-08,
};

constexpr uint8_t kSilence = 0x69;

// One block so that table t, entry e is at a constant offset t * 256 + e.
alignas(64) double g_tables[kDsd2PcmTables][256];
uint8_t g_bitReverse[256];
std::atomic<bool> g_tablesDone{false};

}  // namespace

void dsd2pcm_build_tables() {
    if (g_tablesDone.load(std::memory_order_acquire)) {
        return;
    }
    // Bit-reversed counter: toggle bits from the top down until one turns on.
    unsigned e = 0;
    for (unsigned i = 0; i < 256; ++i) {
        g_bitReverse[i] = static_cast<uint8_t>(e);
        for (unsigned mask = 128; mask != 0; mask >>= 1) {
            e ^= mask;
            if (e & mask) {
                break;
            }
        }
    }
    for (unsigned t = 0; t < kDsd2PcmTables; ++t) {
        for (unsigned entry = 0; entry < 256; ++entry) {
            double sum = 0.0;
            for (unsigned m = 0; m < 8; ++m) {
                const double tap = kHalfFilter[8 * t + m];
                sum += ((entry >> (7 - m)) & 1u) ? tap : -tap;
            }
            g_tables[kDsd2PcmTables - 1 - t][entry] = sum;
        }
    }
    g_tablesDone.store(true, std::memory_order_release);
}

bool dsd2pcm_tables_ready() { return g_tablesDone.load(std::memory_order_acquire); }

const uint8_t* dsd2pcm_bit_reverse() { return g_bitReverse; }

void dsd2pcm_init(dsd2pcm_ctx_s* ctx) {
    std::memset(ctx->history, kSilence, sizeof ctx->history);
    ctx->position = 0;
}

void dsd2pcm_reset(dsd2pcm_ctx_s* ctx) { dsd2pcm_init(ctx); }

// The ring works like this, per input byte with p the position: the byte is
// stored at p; the byte at p - 6, which has just entered the older half of the
// filter, is bit-reversed in place; the output is the sum over i = 0 … 5 of
// (T_i[ring[p - i]] + T_i[ring[p - 11 + i]]), pairs accumulated from i = 0 up.
//
// Laid out in a straight array lin[] (lin[0 … 15] the ring from slot p on,
// lin[16 + j] the j-th new byte), output j reads the plain bytes lin[16 + j - i]
// and the bytes lin[5 + j + i], which by then have been reversed exactly when
// their index is 10 or more. So two arrays, plain and "reversed from index 10
// on", give every operand without touching the ring per byte; the ring is
// rewritten from them once per pass.
void dsd2pcm_window_load(const dsd2pcm_ctx_s* ctx, dsd2pcm_window_s* window, const uint8_t* src,
                         ptrdiff_t srcStride, size_t m, bool lsbFirst) {
    const uint8_t* rev = g_bitReverse;
    uint8_t* plain = window->plain;
    uint8_t* older = window->older;
    const unsigned p = ctx->position & 15u;
    for (unsigned k = 0; k < 16; ++k) {
        const uint8_t b = ctx->history[(p + k) & 15u];
        plain[k] = b;
        older[k] = k >= 10 ? rev[b] : b;
    }
    m = std::min(m, kDsd2PcmPass);
    size_t j = 0;
    // Contiguous bytes (DSF blocks, mono) and interleaved stereo are reversed
    // a vector at a time; the loops below finish what the kernels leave.
    const PcmKernelSet kernels = ActivePcmKernels();
    if (srcStride == 1 && kernels == PcmKernelSet::kAvx2) {
        j = dsd2pcm_split_avx2(src, plain + 16, older + 16, m, lsbFirst);
    } else if (srcStride == 1 && kernels != PcmKernelSet::kPortable) {
        j = dsd2pcm_split_sse2(src, plain + 16, older + 16, m, lsbFirst);
    } else if (srcStride == 2 && kernels != PcmKernelSet::kPortable) {
        j = dsd2pcm_split2_sse2(src, plain + 16, older + 16, m, lsbFirst);
    }
    if (lsbFirst) {
        for (; j < m; ++j) {
            const uint8_t b = src[static_cast<ptrdiff_t>(j) * srcStride];
            plain[16 + j] = rev[b];
            older[16 + j] = b;
        }
    } else {
        for (; j < m; ++j) {
            const uint8_t b = src[static_cast<ptrdiff_t>(j) * srcStride];
            plain[16 + j] = b;
            older[16 + j] = rev[b];
        }
    }
}

void dsd2pcm_window_store(dsd2pcm_ctx_s* ctx, const dsd2pcm_window_s* window, size_t m) {
    m = std::min(m, kDsd2PcmPass);
    // The ring after the pass is lin[m … m + 15]; index k was reversed when k < m + 10.
    const unsigned q = static_cast<unsigned>((ctx->position + m) & 15u);
    for (unsigned k = 0; k < 16; ++k) {
        const size_t idx = m + k;
        ctx->history[(q + k) & 15u] = idx < m + 10 ? window->older[idx] : window->plain[idx];
    }
    ctx->position = q;
}

namespace {

// Output j of a pass reads plain[j - i] and older[j + i] (i = 0 … 5, with
// plain = window.plain + 16 and older = window.older + 5). Each byte is read
// by six consecutive outputs, so the twelve indices live in registers:
// plain[k] in p[k mod 6] and older[k] in o[k mod 6], and every output loads
// just one new byte of each. Unrolled by six, the slots are fixed per phase.
struct Indices {
    size_t p[6];
    size_t o[6];
};

template <unsigned R>
inline double Phase(const double (*T)[256], Indices& x, const dsd2pcm_window_s& w, size_t j) {
    x.p[R] = w.plain[16 + j];
    x.o[(R + 5) % 6] = w.older[10 + j];
    // No table entry is +-0 (each is a sum of non-zero taps started from
    // +0.0, which can only reach +0.0), so no pair sum is -0.0 and the first
    // pair equals 0.0 + pair.
    double sum = T[0][x.p[R]] + T[0][x.o[R]];
    sum += T[1][x.p[(R + 5) % 6]] + T[1][x.o[(R + 1) % 6]];
    sum += T[2][x.p[(R + 4) % 6]] + T[2][x.o[(R + 2) % 6]];
    sum += T[3][x.p[(R + 3) % 6]] + T[3][x.o[(R + 3) % 6]];
    sum += T[4][x.p[(R + 2) % 6]] + T[4][x.o[(R + 4) % 6]];
    sum += T[5][x.p[(R + 1) % 6]] + T[5][x.o[(R + 5) % 6]];
    return sum;
}

// One pass of m outputs to out[0], out[stride], … (Stride: the stride when
// known at compile time, 0 otherwise).
template <ptrdiff_t Stride>
void RunPass(const dsd2pcm_window_s& w, size_t m, double* out, ptrdiff_t stride) {
    if constexpr (Stride != 0) {
        stride = Stride;
    }
    const double(*T)[256] = g_tables;
    Indices x;
    // Before output 0: plain[-5 … -1] and older[0 … 4] (older = window.older + 5).
    for (unsigned i = 1; i < 6; ++i) {
        x.p[6 - i] = w.plain[16 - i];
    }
    for (unsigned k = 0; k < 5; ++k) {
        x.o[k] = w.older[5 + k];
    }
    size_t j = 0;
    for (; j + 6 <= m; j += 6) {
        out[0] = Phase<0>(T, x, w, j);
        out[stride] = Phase<1>(T, x, w, j + 1);
        out[2 * stride] = Phase<2>(T, x, w, j + 2);
        out[3 * stride] = Phase<3>(T, x, w, j + 3);
        out[4 * stride] = Phase<4>(T, x, w, j + 4);
        out[5 * stride] = Phase<5>(T, x, w, j + 5);
        out += 6 * stride;
    }
    // The last m mod 6 outputs; j is a multiple of 6 here, so phase 0 comes first.
    if (j < m) *out = Phase<0>(T, x, w, j), out += stride, ++j;
    if (j < m) *out = Phase<1>(T, x, w, j), out += stride, ++j;
    if (j < m) *out = Phase<2>(T, x, w, j), out += stride, ++j;
    if (j < m) *out = Phase<3>(T, x, w, j), out += stride, ++j;
    if (j < m) *out = Phase<4>(T, x, w, j);
}

}  // namespace

void dsd2pcm_run(dsd2pcm_ctx_s* ctx, size_t n, const uint8_t* src, ptrdiff_t srcStride, bool lsbFirst,
                 double* dst, ptrdiff_t dstStride) {
    dsd2pcm_window_s window;
    while (n > 0) {
        const size_t m = std::min(n, kDsd2PcmPass);
        dsd2pcm_window_load(ctx, &window, src, srcStride, m, lsbFirst);
        switch (dstStride) {
        case 1:
            RunPass<1>(window, m, dst, 1);
            break;
        case 2:
            RunPass<2>(window, m, dst, 2);
            break;
        default:
            RunPass<0>(window, m, dst, dstStride);
            break;
        }
        dsd2pcm_window_store(ctx, &window, m);
        n -= m;
        src += static_cast<ptrdiff_t>(m) * srcStride;
        dst += static_cast<ptrdiff_t>(m) * dstStride;
    }
}
