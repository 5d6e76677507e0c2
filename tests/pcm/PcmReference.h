// Plain, step-by-step implementations of the decimator, the low-pass filter
// and the block conversion, written straight from their definitions. The
// production code is optimised; every test compares it with these bit for bit.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "pcm/IIRFilter.h"

namespace pcmref {

// |H| in dB at frequency f, from a designed filter's coefficients.
inline double ResponseDb(const CIIRFilter& filter, double f) {
    const double w = 2.0 * M_PI * f / filter.SampleRate();
    const std::complex<double> z1 = std::polar(1.0, -w), z2 = z1 * z1;
    std::complex<double> h = filter.OverallGain();
    for (unsigned s = 0; s < filter.ActiveSections(); ++s) {
        const double* c = filter.Coefficients(s);
        h *= (1.0 + c[CIIRFilter::kFf1] * z1 + c[CIIRFilter::kFf2] * z2) /
             (1.0 + c[CIIRFilter::kFb1] * z1 + c[CIIRFilter::kFb2] * z2);
    }
    return 20 * std::log10(std::abs(h));
}

inline const double* HalfFilter() {
    static const double h[48] = {
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
    return h;
}

inline uint8_t Reverse(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        if (b & (1 << i)) r |= static_cast<uint8_t>(0x80 >> i);
    }
    return r;
}

struct Tables {
    double t[6][256];
    Tables() {
        const double* h = HalfFilter();
        for (int k = 0; k < 6; ++k) {
            for (int e = 0; e < 256; ++e) {
                double sum = 0.0;
                for (int m = 0; m < 8; ++m) {
                    sum += ((e >> (7 - m)) & 1) ? h[8 * k + m] : -h[8 * k + m];
                }
                t[5 - k][e] = sum;
            }
        }
    }
};

inline const Tables& RefTables() {
    static const Tables tables;
    return tables;
}

// The ring-buffer decimator, one byte at a time.
struct Decimator {
    uint8_t history[16];
    unsigned position = 0;
    Decimator() { Reset(); }
    void Reset() {
        std::memset(history, 0x69, sizeof history);
        position = 0;
    }
    double Step(uint8_t byte, bool lsbFirst) {
        const auto& T = RefTables().t;
        const unsigned p = position;
        history[p] = lsbFirst ? Reverse(byte) : byte;
        history[(p - 6) & 15] = Reverse(history[(p - 6) & 15]);
        double sum = 0.0;
        for (unsigned i = 0; i < 6; ++i) {
            sum += T[i][history[(p - i) & 15]] + T[i][history[(p - 11 + i) & 15]];
        }
        position = (p + 1) & 15;
        return sum;
    }
};

// The low-pass filter, section by section.
struct Filter {
    double gain = 1.0;
    unsigned sections = 0;
    double c[5][4] = {};  // fb1, fb2, ff1, ff2
    double s[5][2] = {};  // w1, w2
    bool valid = false;

    bool Design(unsigned count, double fs, double fc, double q) {
        if (fs < 1000 || fs > 1e7 || fc < 0 || fc > 1e7 || q < 0.01 || q > 10000) return false;
        static const double p2[2] = {0.7653668647, 1.847759065};
        static const double p4[4] = {0.390180644, 1.111140466, 1.6629392246, 1.9615705608};
        sections = 0;
        const double* proto = nullptr;
        if (!(fc > fs * 0.5 * 0.99)) {
            if (count == 2) proto = p2;
            else if (count == 4) proto = p4;
            else return false;
        }
        const unsigned n = proto ? count : 0;
        const double pi = 4.0 * std::atan(1.0);
        const double w = 2.0 * fs * std::tan(pi * fc / fs);
        double g = 1.0;
        std::memset(c, 0, sizeof c);
        std::memset(s, 0, sizeof s);
        for (unsigned k = 0; k < n; ++k) {
            double a0 = 1, a1 = 0, a2 = 0, b0 = 1, b1 = proto[k], b2 = 1;
            b1 /= q;
            a1 /= w;
            b1 /= w;
            a2 /= w * w;
            b2 /= w * w;
            a1 = 2 * fs * a1;
            b1 = 2 * fs * b1;
            const double A2 = 4 * (fs * fs) * a2, B2 = 4 * (fs * fs) * b2;
            const double N0 = a1 + A2 + a0, D0 = b1 + B2 + b0;
            g = g * N0 / D0;
            c[k][2] = (2 * a0 - 8 * (fs * fs) * a2) / N0;
            c[k][3] = (A2 - a1 + a0) / N0;
            c[k][0] = (2 * b0 - 8 * (fs * fs) * b2) / D0;
            c[k][1] = (B2 - b1 + b0) / D0;
        }
        gain = g;
        sections = n;
        valid = true;
        return true;
    }
    double Process(double x) {
        double y = x * gain;
        for (unsigned k = 0; k < sections; ++k) {
            double w = y - c[k][0] * s[k][0] - c[k][1] * s[k][1];
            if (std::fabs(w) < 1e-150) w = 0;
            y = w + c[k][2] * s[k][0] + c[k][3] * s[k][1];
            s[k][1] = s[k][0];
            s[k][0] = w;
        }
        return y;
    }
};

// A whole conversion context: decimators, filters by mode, gain.
struct Converter {
    std::vector<Decimator> decimators;
    std::vector<Filter> filters;
    bool filtered = false;

    Converter(unsigned channels, double rate, unsigned mode) : decimators(channels), filters(channels) {
        if (mode > 3) mode = 0;
        filtered = mode != 3;
        const unsigned sections = mode == 0 ? 4 : 2;
        const double fc = mode == 0 ? 24000.0 : mode == 1 ? 30000.0 : 50000.0;
        if (filtered) {
            for (auto& f : filters) f.Design(sections, rate, fc, 1.0);
        }
    }
    void Convert(const uint8_t* block, size_t frames, size_t channelOffset, size_t stride, bool lsbFirst,
                 bool add6dB, double* out) {
        const size_t cs = decimators.size();
        for (size_t c = 0; c < cs; ++c) {
            for (size_t k = 0; k < frames; ++k) {
                double v = decimators[c].Step(block[c * channelOffset + k * stride], lsbFirst);
                if (filtered) v = filters[c].Process(v);
                out[k * cs + c] = v;
            }
        }
        if (add6dB) {
            for (size_t i = 0; i < cs * frames; ++i) out[i] *= 1.9952623149688795;
        }
    }
};

}  // namespace pcmref
