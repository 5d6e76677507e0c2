// POSIX implementation of the platform layer.
#if !defined(_WIN32)

#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <mutex>
#include <new>

#include "KwLock.h"
#include "KwPlatform.h"

KwString KwLibrarySuffix() { return KW_T(".so"); }

KwModuleHandle KwLoadLibrary(const KwString& path, uint32_t /*flags*/) {
    if (path.empty()) return nullptr;
    // Functions are bound at their first call: a library binds a few dozen
    // of the hundreds it could call, and binding them all made up most of
    // its load time. (The libraries of this project are linked with every
    // symbol resolved, and symbol versions are still checked at load.)
    return dlopen(KwToUtf8(path).c_str(), RTLD_LAZY | RTLD_LOCAL);
}

void* KwGetProcAddress(KwModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    return dlsym(module, name);
}

void KwFreeLibrary(KwModuleHandle module) {
    if (module) dlclose(module);
}

KwModuleHandle KwModuleHandleOf(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return nullptr;
    // RTLD_NOLOAD hands out the existing handle and raises its count; give the
    // count back at once so that the handle does not pin the module.
    void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle;
}

KwString KwModulePath(KwModuleHandle module) {
    if (!module) return {};
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
    return KwFromUtf8(map->l_name);
}

static std::string SelfExecutablePath() {
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

KwString KwGetProgramFolder() {
    if (const char* env = getenv("KW_PROGRAM_FOLDER")) return KwFromUtf8(env);
    std::string exe = SelfExecutablePath();
    const size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return {};
    exe.resize(slash);
    return KwFromUtf8(exe);
}

unsigned KwGetProcessorCount() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
}

uint32_t KwGetCurrentThreadId() {
    // One system call per thread: the number does not change while it runs.
    thread_local const uint32_t id = static_cast<uint32_t>(gettid());
    return id;
}

uint32_t KwGetTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

std::vector<KwString> KwGetCommandLineArguments() {
    std::vector<KwString> args;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string arg;
    while (std::getline(in, arg, '\0')) args.push_back(KwFromUtf8(arg));
    return args;
}

// A length word stands before the text, as with the system strings of Windows.
KwChar* KwSysAllocString(const KwChar* text, size_t length) {
    if (length > (UINT32_MAX / sizeof(KwChar)) - 1) return nullptr;  // the length word is 32 bits
    auto* block = static_cast<uint32_t*>(malloc(sizeof(uint32_t) + (length + 1) * sizeof(KwChar)));
    if (!block) return nullptr;
    block[0] = static_cast<uint32_t>(length * sizeof(KwChar));
    auto* out = reinterpret_cast<KwChar*>(block + 1);
    if (length && text) memcpy(out, text, length * sizeof(KwChar));
    out[length] = 0;
    return out;
}

void KwSysFreeString(KwChar* text) {
    if (text) free(reinterpret_cast<uint32_t*>(text) - 1);
}

KwString KwGetUserConfigFolder() {
    if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg && *xdg) return KwFromUtf8(xdg);
    const char* home = getenv("HOME");
    return KwFromUtf8(std::string(home ? home : ".") + "/.config");
}

namespace {
std::recursive_mutex* Mutex(unsigned char* storage) { return std::launder(reinterpret_cast<std::recursive_mutex*>(storage)); }
}  // namespace

static_assert(sizeof(std::recursive_mutex) <= 64 && alignof(std::recursive_mutex) <= 16);
KwCriticalSection::KwCriticalSection() { new (storage_) std::recursive_mutex(); }
KwCriticalSection::~KwCriticalSection() { Mutex(storage_)->~recursive_mutex(); }
void KwCriticalSection::Enter() { Mutex(storage_)->lock(); }
void KwCriticalSection::Leave() { Mutex(storage_)->unlock(); }
bool KwCriticalSection::TryEnter() { return Mutex(storage_)->try_lock(); }

#endif
