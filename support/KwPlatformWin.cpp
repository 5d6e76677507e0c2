// Windows implementation of the platform layer.
#if defined(_WIN32)

#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>
#include <stdlib.h>

#include "KwLock.h"
#include "KwPlatform.h"

KwString KwLibrarySuffix() { return KW_T(".dll"); }

KwModuleHandle KwLoadLibrary(const KwString& path, uint32_t flags) {
    if (path.empty()) return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, flags);
}

void* KwGetProcAddress(KwModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void KwFreeLibrary(KwModuleHandle module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

KwModuleHandle KwModuleHandleOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
    return module;
}

KwString KwModulePath(KwModuleHandle module) {
    wchar_t buf[32768];
    const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buf, 32768);
    return KwString(buf, n);
}

KwString KwGetProgramFolder() {
    wchar_t env[32768];
    // An empty variable also returns 0 and may leave the last error untouched,
    // so clear it first to tell "empty" from "not set".
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(L"KW_PROGRAM_FOLDER", env, 32768);
    if (n > 0 && n < 32768) return KwString(env, n);
    if (n == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) return {};
    KwString exe = KwModulePath(nullptr);
    const size_t slash = exe.find_last_of(L"\\/");
    if (slash == KwString::npos) return {};
    exe.resize(slash);
    return exe;
}

unsigned KwGetProcessorCount() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1u;
}

uint32_t KwGetTickCount() { return GetTickCount(); }

uint32_t KwGetCurrentThreadId() { return GetCurrentThreadId(); }

std::vector<KwString> KwGetCommandLineArguments() {
    std::vector<KwString> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv) {
        for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
        LocalFree(argv);
    }
    return args;
}

KwChar* KwSysAllocString(const KwChar* text, size_t length) {
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

void KwSysFreeString(KwChar* text) { SysFreeString(text); }

KwString KwGetUserConfigFolder() {
    wchar_t buf[32768];
    const DWORD n = GetEnvironmentVariableW(L"APPDATA", buf, 32768);
    if (n > 0 && n < 32768) return KwString(buf, n);
    return L".";
}

namespace {
CRITICAL_SECTION* Section(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }
}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16);
KwCriticalSection::KwCriticalSection() { InitializeCriticalSection(Section(storage_)); }
KwCriticalSection::~KwCriticalSection() { DeleteCriticalSection(Section(storage_)); }
void KwCriticalSection::Enter() { EnterCriticalSection(Section(storage_)); }
void KwCriticalSection::Leave() { LeaveCriticalSection(Section(storage_)); }
bool KwCriticalSection::TryEnter() { return TryEnterCriticalSection(Section(storage_)) != 0; }

#endif
