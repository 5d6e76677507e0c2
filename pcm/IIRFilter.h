// Butterworth low-pass of order 4 or 8 as cascaded second-order sections,
// designed from the analogue prototype by the pre-warped bilinear transform.
#pragma once

#include <cstddef>
#include <cstdint>

class CIIRFilterBase {
public:
    virtual ~CIIRFilterBase() = default;
};

class CIIRFilter : public CIIRFilterBase {
public:
    static constexpr unsigned kMaxSections = 5;
    // Coefficient order within a section.
    enum { kFb1 = 0, kFb2 = 1, kFf1 = 2, kFf2 = 3 };
    // State order within a section: the last w and the one before.
    enum { kW1 = 0, kW2 = 1 };
    // |w| below this becomes 0, keeping decaying state out of the denormal range.
    static constexpr double kFlushThreshold = 1e-150;

    CIIRFilter() = default;
    ~CIIRFilter() override = default;

    // sections: 2 or 4; fs, fc in Hz; gainParameter is range-checked and kept;
    // q divides each section's first-order denominator coefficient.
    bool Design(uint32_t sections, double fs, double fc, double gainParameter, double q);
    double Process(double x);
    // Zeroes the state; the coefficients stay.
    void Reset();

    // Runs n samples in place: data[0], data[stride], …
    void ProcessBlock(double* data, size_t n, size_t stride);
    // Runs two filters side by side over interleaved samples: filter a over
    // data[k * stride], filter b over data[k * stride + 1]. Same results as
    // calling Process on each.
    static void ProcessPair(CIIRFilter& a, CIIRFilter& b, double* data, size_t n, size_t stride);

    bool IsValid() const { return valid_ != 0; }
    uint32_t RequestedSections() const { return requestedSections_; }
    uint32_t ActiveSections() const { return activeSections_; }
    double SampleRate() const { return sampleRate_; }
    double CutOff() const { return cutOff_; }
    double OverallGain() const { return gain_; }
    bool IsBilinear() const { return bilinear_ != 0; }
    // fb1, fb2, ff1, ff2 of section s.
    const double* Coefficients(unsigned s) const { return coef_[s % kMaxSections]; }
    // w1, w2 of section s.
    const double* State(unsigned s) const { return state_[s % kMaxSections]; }
    // The whole tables, for the block kernels (pcm/IIRPairKernel.h).
    const double (*CoefficientTable() const)[4] { return coef_; }
    double (*StateTable())[2] { return state_; }

private:
    uint8_t valid_ = 0;
    uint32_t requestedSections_ = 0xFFFFFFFFu;
    double sampleRate_ = 0.0;
    double cutOff_ = 0.0;
    double gainParameter_ = 0.0;
    double quality_ = 0.0;
    uint32_t activeSections_ = 0;
    uint8_t bilinear_ = 1;
    double gain_ = 1.0;
    double coef_[kMaxSections][4] = {};
    double state_[kMaxSections][2] = {};
};
