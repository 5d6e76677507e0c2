// Loads and frees a DLL many times in one process and prints how far the
// process's handles and committed memory grew. With the plug-in, each round
// also makes and destroys an input source. windows_load_unload.sh compares the
// plug-in with an empty C++ DLL built with the same static run-time library,
// whose own load/unload cost is the baseline.
//   windows_load_unload.exe DLL ROUNDS      prints "HANDLES BYTES"
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

template <class R, class... Args>
R CallSlot(void* object, int slot, Args... args) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, Args...)>(table[slot])(object, args...);
}

bool Round(const char* path) {
    HMODULE module = LoadLibraryA(path);
    if (!module) return false;
    using GetInputSourceFn = void* (*)(void*);
    auto get = reinterpret_cast<GetInputSourceFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetInputSource")));
    if (void* source = get ? get(nullptr) : nullptr) {
        CallSlot<int32_t>(source, 4, int32_t{4});
        CallSlot<void>(source, 0, uint32_t{1});
    }
    return FreeLibrary(module) != 0;
}

struct Usage {
    long long handles = 0;
    long long bytes = 0;
};

// Handle values are given out lowest-free first, so the value of a new handle
// grows with every handle left open (wine does not report the handle count).
// Memory: the committed bytes of the process.
Usage Measure() {
    Usage usage;
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    usage.handles = static_cast<long long>(reinterpret_cast<uintptr_t>(probe)) / 4;
    CloseHandle(probe);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    usage.bytes = static_cast<long long>(counters.PagefileUsage);
    return usage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int rounds = std::atoi(argv[2]);
    // The first rounds settle what the system itself keeps (caches, heaps).
    for (int i = 0; i < 10; ++i)
        if (!Round(argv[1])) return 3;
    const Usage before = Measure();
    for (int i = 0; i < rounds; ++i)
        if (!Round(argv[1])) return 3;
    const Usage after = Measure();
    std::printf("%lld %lld\n", after.handles - before.handles, after.bytes - before.bytes);
    return 0;
}
