// The reference host's image library. The plug-in's window toolkit only
// attaches to it and releases it again.
#include <atomic>

#include "plugin/kwapi/IKwTools.h"

namespace {

class KwImageApp : public IKwImageApp {
public:
    void Attach(intptr_t) override { ++attachCount_; }
    void Release(intptr_t) override {
        int32_t count = attachCount_.load();
        while (count > 0 && !attachCount_.compare_exchange_weak(count, count - 1)) {
        }
    }

private:
    std::atomic<int32_t> attachCount_{0};
};

}  // namespace

KW_EXPORT IKwImageApp* GetKwImageAppDLL() {
    // Trivially destructible, so it stays usable while the process exits.
    static KwImageApp app;
    return &app;
}
