#include "pcm/ConvertToPCM.h"

#include <algorithm>

#include "pcm/ConvertToPCMContext.h"
#include "support/KwLock.h"

using Context = CConvertToPCMContext;

namespace {

// Idle contexts kept for the next file of the same shape.
constexpr size_t kMaxIdleContexts = 3;
// Frames converted per pass: every channel's decimated samples of one pass
// stay in the first-level cache while the filters run over them.
constexpr size_t kFramesPerPass = 512;

struct ContextPool {
    KwCriticalSection lock;
    std::vector<Context*> idle;

    ~ContextPool() {
        for (Context* context : idle) {
            delete context;
        }
    }
};

// Guards only the creation and destruction of the pool; never held together
// with the pool's own lock.
KwCriticalSection& ModuleLock() {
    static KwCriticalSection lock;
    return lock;
}

ContextPool* g_pool = nullptr;

ContextPool& Pool() {
    ContextPool* pool;
    {
        KwLockGuard guard(ModuleLock());
        if (g_pool == nullptr) {
            g_pool = new ContextPool;
        }
        pool = g_pool;
    }
    return *pool;
}

uint32_t NormalisedMode(uint32_t mode) { return mode <= kLowPassOff ? mode : kLowPassSafe; }

// Called with the pool lock held.
Context* MakeContext(uint32_t channels, uint32_t outputRate, uint32_t mode) {
    dsd2pcm_build_tables();
    auto context = std::make_unique<Context>(channels, outputRate, mode);
    uint32_t sections = 0;
    double cutOff = 0.0;
    const bool filtered = LowPassDesign(mode, sections, cutOff);
    context->decimators.reserve(channels);
    context->filters.reserve(channels);
    for (uint32_t c = 0; c < channels; ++c) {
        auto decimator = std::make_unique<dsd2pcm_ctx_s>();
        dsd2pcm_init(decimator.get());
        context->decimators.push_back(std::move(decimator));
        std::unique_ptr<CIIRFilter> filter;
        if (filtered) {
            filter = std::make_unique<CIIRFilter>();
            // A rate the filter cannot be designed for leaves it invalid,
            // passing samples through with its initial unity gain.
            filter->Design(sections, static_cast<double>(outputRate), cutOff, 0.0, 1.0);
        }
        context->filters.push_back(std::move(filter));
    }
    return context.release();
}

}  // namespace

bool LowPassDesign(uint32_t lowPassMode, uint32_t& sections, double& cutOff) {
    switch (NormalisedMode(lowPassMode)) {
    case kLowPassMedium:
        sections = 2;
        cutOff = 30000.0;
        return true;
    case kLowPassPermissive:
        sections = 2;
        cutOff = 50000.0;
        return true;
    case kLowPassOff:
        sections = 0;
        cutOff = 0.0;
        return false;
    default:
        sections = 4;
        cutOff = 24000.0;
        return true;
    }
}

CConvertToPCMContext* TakeConvertContext(uint32_t channels, uint32_t outputRate, uint32_t lowPassMode) {
    const uint32_t mode = NormalisedMode(lowPassMode);
    ContextPool& pool = Pool();
    KwLockGuard guard(pool.lock);
    for (size_t i = pool.idle.size(); i-- > 0;) {
        Context* context = pool.idle[i];
        if (context->channels == channels && context->rate == outputRate && context->lowPassMode == mode) {
            pool.idle.erase(pool.idle.begin() + static_cast<ptrdiff_t>(i));
            return context;
        }
    }
    return MakeContext(channels, outputRate, mode);
}

void ReturnConvertContext(CConvertToPCMContext* context) {
    if (context == nullptr) {
        return;
    }
    ContextPool& pool = Pool();
    KwLockGuard guard(pool.lock);
    pool.idle.push_back(context);
    while (pool.idle.size() > kMaxIdleContexts) {
        delete pool.idle[kMaxIdleContexts];
        pool.idle.erase(pool.idle.begin() + kMaxIdleContexts);
    }
}

void DestroyConvertContextPool() {
    ContextPool* pool;
    {
        KwLockGuard guard(ModuleLock());
        pool = g_pool;
        g_pool = nullptr;
    }
    delete pool;
}

void EnsureDecimatorTables() {
    if (dsd2pcm_tables_ready()) {
        return;
    }
    ContextPool& pool = Pool();
    KwLockGuard guard(pool.lock);
    dsd2pcm_build_tables();
}

std::vector<const CConvertToPCMContext*> IdleConvertContexts() {
    ContextPool& pool = Pool();
    KwLockGuard guard(pool.lock);
    return {pool.idle.begin(), pool.idle.end()};
}

void ConvertToPCM(CConvertToPCMContext& context, const uint8_t* block, size_t frames,
                  size_t channelOffset, size_t stride, bool lsbFirst, bool add6dB, double* destination) {
    const size_t channels = std::min(context.decimators.size(), context.filters.size());
    const size_t frameWidth = context.channels;
    if (channels == 0 || frameWidth < channels) {
        return;
    }
    const auto srcStride = static_cast<ptrdiff_t>(stride);
    for (size_t done = 0; done < frames; done += kFramesPerPass) {
        const size_t n = std::min(kFramesPerPass, frames - done);
        const uint8_t* src = block + done * stride;
        double* out = destination + done * frameWidth;
        for (size_t c = 0; c < channels; ++c) {
            dsd2pcm_run(context.decimators[c].get(), n, src + c * channelOffset, srcStride, lsbFirst, out + c,
                        static_cast<ptrdiff_t>(frameWidth));
        }
        // The filters run two channels at a time where they pair up.
        size_t c = 0;
        while (c < channels) {
            CIIRFilter* filter = context.filters[c].get();
            CIIRFilter* next = c + 1 < channels ? context.filters[c + 1].get() : nullptr;
            if (filter != nullptr && next != nullptr) {
                CIIRFilter::ProcessPair(*filter, *next, out + c, n, frameWidth);
                c += 2;
                continue;
            }
            if (filter != nullptr) {
                filter->ProcessBlock(out + c, n, frameWidth);
            }
            ++c;
        }
        if (add6dB) {
            const size_t count = n * frameWidth;
            for (size_t i = 0; i < count; ++i) {
                out[i] *= kGain6dB;
            }
        }
    }
}

void ResetConvertContext(CConvertToPCMContext& context) {
    for (auto& decimator : context.decimators) {
        dsd2pcm_reset(decimator.get());
    }
    for (auto& filter : context.filters) {
        if (filter) {
            filter->Reset();
        }
    }
}
