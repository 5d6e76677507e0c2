// The per-shape set of decimators and low-pass filters used for PCM output.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pcm/Dsd2Pcm.h"
#include "pcm/IIRFilter.h"

class CConvertToPCMContext {
public:
    CConvertToPCMContext(uint32_t channelCount, uint32_t outputRate, uint32_t mode)
        : channels(channelCount), rate(outputRate), lowPassMode(mode) {}
    CConvertToPCMContext(const CConvertToPCMContext&) = delete;
    CConvertToPCMContext& operator=(const CConvertToPCMContext&) = delete;

    // The pool key.
    uint32_t channels;
    uint32_t rate;
    uint32_t lowPassMode;
    // One per channel, owned.
    std::vector<std::unique_ptr<dsd2pcm_ctx_s>> decimators;
    // One slot per channel; null slots when the mode is Off.
    std::vector<std::unique_ptr<CIIRFilter>> filters;
};
