#include "SignalAnalysis.h"
#include "tests/e2e/E2eSupport.h"


#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace dsdtest {

std::string RunCommand(const std::string& command) { return e2e::Capture(command); }

bool HaveFfmpeg() {
    static const bool have = RunCommand("ffmpeg -version 2>/dev/null").find("ffmpeg") != std::string::npos;
    return have;
}

namespace {

void Fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double ang = -2.0 * std::numbers::pi / static_cast<double>(len);
        for (size_t i = 0; i < n; i += len)
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> w = std::polar(1.0, ang * static_cast<double>(k));
                const std::complex<double> u = a[i + k];
                const std::complex<double> v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
    }
}

}  // namespace

ToneMeasure MeasureTone(const std::vector<double>& x, size_t channels, size_t channel, size_t start, size_t count,
                        double rate, double expected) {
    ToneMeasure m;
    if ((start + count) * channels > x.size() || count < 16 || (count & (count - 1))) return m;
    std::vector<std::complex<double>> a(count);
    double windowEnergy = 0;
    for (size_t i = 0; i < count; ++i) {
        // Four-term Blackman-Harris window: side lobes below -92 dB.
        const double t = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count);
        const double w = 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
        windowEnergy += w * w;
        a[i] = x[(start + i) * channels + channel] * w;
    }
    Fft(a);
    const double binHz = rate / static_cast<double>(count);
    // Bins 0-3 hold the window's spread of any DC offset.
    const size_t lo = std::max<size_t>(static_cast<size_t>(std::ceil(20.0 / binHz)), 4);
    const size_t hi = std::min(count / 2, static_cast<size_t>(20000.0 / binHz));
    size_t peak = lo;
    for (size_t k = lo; k <= hi; ++k)
        if (std::norm(a[k]) > std::norm(a[peak])) peak = k;
    m.peakFrequency = static_cast<double>(peak) * binHz;
    const size_t centre = static_cast<size_t>(std::llround(expected / binHz));
    const size_t lobe = 6;  // the window's main lobe is +-4 bins wide
    double sig = 0, noise = 0;
    for (size_t k = lo; k <= hi; ++k) {
        const double p = std::norm(a[k]);
        if (k + lobe >= centre && k <= centre + lobe)
            sig += p;
        else
            noise += p;
    }
    m.levelDb = 10.0 * std::log10(4.0 * sig / (static_cast<double>(count) * windowEnergy));
    m.snrDb = noise > 0 ? 10.0 * std::log10(sig / noise) : 999;
    return m;
}

std::string TempPath(const std::string& name) {
    static const e2e::Workspace work;  // removed with everything in it at exit
    return (work / name).string();
}

uint64_t LoadLE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

uint64_t LoadBE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

}  // namespace dsdtest
