// The baseline of windows_load_unload.sh: a C++ DLL that uses the static C++
// run-time library (locks, a static string) and nothing else.
#include <mutex>
#include <string>

static std::mutex g_lock;

extern "C" __declspec(dllexport) void* GetInputSource(void*) {
    std::lock_guard<std::mutex> guard(g_lock);
    static std::string text = "baseline";
    return text.empty() ? &text : nullptr;
}
