// Exports of the reference tools library that only the host program uses
// (the plug-in knows GetKwToolsDLL alone).
#pragma once

#include "support/KwTypes.h"

extern "C" {
// KwToolsRegisterMemoryCopy(file name): keeps a copy of the file's bytes that
// GetMemoryCopy with the same name then hands out; false when the file cannot
// be read.
using KwToolsRegisterMemoryCopyFn = bool (*)(const KwChar* fileName);
// KwToolsClearMemoryCopies(): drops every copy; only while none is in use.
using KwToolsClearMemoryCopiesFn = void (*)();
}
