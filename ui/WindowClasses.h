// Window-class bookkeeping of the toolkit.
#pragma once

#include "support/KwTypes.h"

// Unregisters a window class that the toolkit registered for `module`
// (no-op where the platform has no window classes).
void KwUnregisterWindowClass(const KwString& className, KwModuleHandle module);
