#include "plugin/DSDApp.h"

#include <cstdlib>

#include "pcm/ConvertToPCM.h"
#include "plugin/SharedToolsHelper.h"
#include "support/KwPlatform.h"
#include "ui/WindowClasses.h"

namespace {
std::atomic<KwApp*> g_currentApp{nullptr};
}

KwApp::KwApp() { g_currentApp.store(this, std::memory_order_release); }

KwApp::~KwApp() {
    KwApp* self = this;
    g_currentApp.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

KwApp* KwApp::Current() { return g_currentApp.load(std::memory_order_acquire); }

bool KwApp::DllEntry(KwModuleHandle instance, uint32_t reason, void* reserved) {
    if (reason == kKwProcessAttach) {
        if (attachCount_.fetch_add(1, std::memory_order_acq_rel) + 1 == 1) {
            module_ = instance;
            arguments_ = KwGetCommandLineArguments();
            if (!InitInstance()) {
                ExitInstance();
                return false;
            }
        }
        return true;
    }
    if (reason == kKwProcessDetach) {
        // A detach with a non-null reserved argument comes while the process
        // terminates: other libraries may already be gone, and the system
        // reclaims everything, so nothing is called into or freed. A normal
        // unload (reserved null) releases all.
        if (attachCount_.fetch_sub(1, std::memory_order_acq_rel) == 1 && reserved == nullptr) ExitInstance();
        return true;
    }
    return true;
}

int32_t KwApp::RunProgram(KwModuleHandle instance, int32_t /*showCommand*/) {
    module_ = instance;
    if (InitInstance()) MessageLoop();
    ExitInstance();
    return exitCode_;
}

int32_t KwApp::RunProcess() { return RunProgram(KwModuleHandleOf(nullptr), 0); }

CDSDApp::~CDSDApp() = default;

bool CDSDApp::InitInstance() {
    // Seed the runtime's random generator of this thread, as the toolkit expects.
    std::srand(KwGetTickCount());
    return true;
}

bool CDSDApp::ExitInstance() {
    CKwSharedToolsHelper::Instance().UnloadAll();
    for (const auto& [name, instance] : classMap_) KwUnregisterWindowClass(name, module_);
    classMap_.clear();
    DestroyConvertContextPool();
    return true;
}
