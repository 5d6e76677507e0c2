// Thin platform layer: every call into the operating system that the plug-in,
// the reference host and the tools make goes through these functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KwTypes.h"

// Path separator of the platform's file names.
#if defined(_WIN32)
constexpr KwChar kKwPathSeparator = KW_T('\\');
#else
constexpr KwChar kKwPathSeparator = KW_T('/');
#endif

// File-name suffix of loadable libraries.
KwString KwLibrarySuffix();

// Load flag: resolve the library's own dependencies from its folder
// (LOAD_WITH_ALTERED_SEARCH_PATH on Windows; meaningless elsewhere).
constexpr uint32_t kKwLoadAlteredSearchPath = 8;

// Loads a library; null on failure.
KwModuleHandle KwLoadLibrary(const KwString& path, uint32_t flags);
// Address of an export, or null.
void* KwGetProcAddress(KwModuleHandle module, const char* name);
void KwFreeLibrary(KwModuleHandle module);
// Handle of the module that contains `address` (without changing its load count).
KwModuleHandle KwModuleHandleOf(const void* address);
// Full path of a loaded module, or empty.
KwString KwModulePath(KwModuleHandle module);

// Folder of the host program whose libraries the plug-in loads (no trailing
// separator). A host may publish it in the environment variable
// KW_PROGRAM_FOLDER (an empty value means "use the system search"); otherwise
// it is the folder of the running executable.
KwString KwGetProgramFolder();

unsigned KwGetProcessorCount();
uint32_t KwGetTickCount();
// The operating system's identifier of the calling thread: unique among the
// threads alive at the same time (a number may be reused once a thread ends).
uint32_t KwGetCurrentThreadId();
// The process command line split into arguments.
std::vector<KwString> KwGetCommandLineArguments();

// "System strings" handed out by GetOption: allocated here, freed by the receiver.
KwChar* KwSysAllocString(const KwChar* text, size_t length);
void KwSysFreeString(KwChar* text);

// Settings and data folders.
// Per-user configuration folder ($XDG_CONFIG_HOME or ~/.config; %APPDATA% on Windows).
KwString KwGetUserConfigFolder();
