// The module object: one per process, driven by the library's load and unload
// (process attach and detach), registered as the process's current application
// object so that other code can find the module handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

#include "support/KwTypes.h"

// Entry reasons of DllEntry.
constexpr uint32_t kKwProcessDetach = 0;
constexpr uint32_t kKwProcessAttach = 1;

class KwApp {
public:
    KwApp();
    virtual ~KwApp();
    KwApp(const KwApp&) = delete;
    KwApp& operator=(const KwApp&) = delete;

    // Attach and detach of the library; false fails the library load.
    virtual bool DllEntry(KwModuleHandle instance, uint32_t reason, void* reserved);
    // Runs as a program (instance handle, one start-up value); not used in a library.
    virtual int32_t RunProgram(KwModuleHandle instance, int32_t showCommand);
    // Runs for the current process module; not used in a library.
    virtual int32_t RunProcess();
    virtual bool InitInstance() { return true; }
    virtual bool ExitInstance() { return true; }
    virtual void MessageLoop() {}
    virtual bool Hook1() { return true; }
    virtual bool Hook2() { return true; }

    KwModuleHandle ModuleHandle() const { return module_; }
    int32_t AttachCount() const { return attachCount_.load(); }
    const std::vector<KwString>& Arguments() const { return arguments_; }
    // Window classes registered by the toolkit, with the instance that registered them.
    std::map<KwString, KwModuleHandle>& ClassMap() { return classMap_; }

    // The process's current application object (null when none).
    static KwApp* Current();

protected:
    KwModuleHandle module_ = nullptr;
    std::vector<KwString> arguments_;
    std::map<KwString, KwModuleHandle> classMap_;
    int32_t exitCode_ = 0;
    std::atomic<int32_t> attachCount_{0};
};

class KwDllApp : public KwApp {};

class CDSDApp : public KwDllApp {
public:
    ~CDSDApp() override;
    bool InitInstance() override;
    bool ExitInstance() override;
    virtual bool Hook3() { return true; }
    virtual void Hook4() {}
};
