// The plug-in's two exports and its library entry point.
#include "plugin/DSDApp.h"
#include "plugin/DSDFileInfo.h"
#include "plugin/DSDInputSource.h"
#include "plugin/SharedToolsHelper.h"
#include "plugin/kwapi/IKwTools.h"
#include "support/KwPlatform.h"

KW_EXPORT IKwAudioInput* GetInputSource(IKwHost* host) { return new CDSDInputSource(host); }

KW_EXPORT int32_t GetFileInfo(IKwHost* host, IKwAudioFileInfo** result) {
    IKwAudioFileInfo* info = new CDSDFileInfo(host);
    if (result)
        *result = info;
    else
        KwDestroy(info);  // nowhere to put it
    return 1;
}

// The entry point forwards process attach and detach to the module object.
#if defined(_WIN32)
#include <windows.h>

static CDSDApp theApp;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return theApp.DllEntry(instance, reason, reserved) ? TRUE : FALSE;
}
#else
#include <new>

// The module object lives in static storage and is built and torn down by the
// shared object's own load and unload hooks, so that its lifetime brackets the
// attach and detach calls exactly.
alignas(CDSDApp) static unsigned char theAppStorage[sizeof(CDSDApp)];
static CDSDApp* theApp = nullptr;

__attribute__((constructor)) static void DsdLibraryLoaded() {
    theApp = new (theAppStorage) CDSDApp();
    theApp->DllEntry(KwModuleHandleOf(reinterpret_cast<const void*>(&DsdLibraryLoaded)), kKwProcessAttach, nullptr);
}

__attribute__((destructor)) static void DsdLibraryUnloaded() {
    if (!theApp) return;
    theApp->DllEntry(theApp->ModuleHandle(), kKwProcessDetach, nullptr);
    theApp->~CDSDApp();
    theApp = nullptr;
    CKwSharedToolsHelper::DestroyLoaderLock();
}
#endif
