#include "ui/WindowClasses.h"

#if defined(_WIN32)
#include <windows.h>
#endif

void KwUnregisterWindowClass(const KwString& className, KwModuleHandle module) {
#if defined(_WIN32)
    UnregisterClassW(className.c_str(), static_cast<HINSTANCE>(module));
#else
    (void)className;
    (void)module;
#endif
}
