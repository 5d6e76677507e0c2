#include "host/dsdhost/ConfigCommand.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "support/KwTypes.h"

namespace {

// Why no window can be shown here, or empty when one can.
const char* NoWindowReason() {
#if defined(_WIN32)
    // Without a display (a service session, or wine without an X server) no
    // window can be created, and the window would close at once unseen.
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) return "no display is available to show the configuration window";
    DestroyWindow(probe);
    return "";
#else
    return "the configuration window exists only in the Windows build; use 'dsdhost settings set' here";
#endif
}

}  // namespace

int RunConfigCommand(const PluginLibrary& plugin, IKwHost* host) {
    if (const char* reason = NoWindowReason(); *reason) {
        fprintf(stderr, "dsdhost: config: %s\n", reason);
        return 1;
    }
    KwPtr<IKwAudioInput> source(plugin.NewInputSource(host));
    if (!source) {
        fprintf(stderr, "dsdhost: config: the plug-in gave no input source\n");
        return 1;
    }
    // Returns when the window closes; OK has stored the settings by then.
    if (source->DoCommand(1) != 0) {
        fprintf(stderr, "dsdhost: config: the plug-in refused command 1\n");
        return 1;
    }
    return 0;
}
