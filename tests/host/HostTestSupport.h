// Helpers for the host-library tests: load the built libraries by path as a
// foreign host would, call interface operations through raw vtable slots, and
// make temporary folders and files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "support/KwPlatform.h"
#include "support/KwTypes.h"

namespace hosttest {

// Calls slot `slot` of the object's vtable with the object as first argument.
template <class R, class... Args>
R Call(void* object, int slot, Args... args) {
    auto table = *reinterpret_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, Args...)>(table[slot])(object, args...);
}

// Slot 0 of destructible interfaces: the deleting destructor.
inline void Destroy(void* object) { Call<void, uint32_t>(object, 0, 1u); }

// A library from the build's binary folder, loaded once per test program.
inline KwModuleHandle Library(const char* name) {
    const std::string path = std::string(DSD_BIN_DIR) + "/" + name + KwToUtf8(KwLibrarySuffix());
    KwModuleHandle module = KwLoadLibrary(KwFromUtf8(path), kKwLoadAlteredSearchPath);
    EXPECT_NE(module, nullptr) << path;
    return module;
}

template <class Fn>
Fn Export(const char* library, const char* name) {
    KwModuleHandle module = Library(library);
    return module ? reinterpret_cast<Fn>(KwGetProcAddress(module, name)) : nullptr;
}

inline void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
#endif
}

// A fresh, empty folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        static int counter = 0;
        const auto stamp = std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" +
                           std::to_string(KwGetTickCount());
        path_ = std::filesystem::temp_directory_path() / ("kwhosttest_" + stamp);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string Path(const std::string& name = {}) const { return name.empty() ? path_.string() : (path_ / name).string(); }
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }

private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

// Integers as file bytes.
inline std::string Le(uint64_t v, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i));
    return out;
}
inline std::string Be(uint64_t v, int n) {
    std::string out;
    for (int i = n - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
    return out;
}

// A DSF file: 1-bit audio, `data` as the whole data chunk body.
inline std::string Dsf(uint32_t channels, uint32_t rate, uint32_t block, const std::string& data,
                       uint64_t sampleCount) {
    const std::string fmt = "fmt " + Le(52, 8) + Le(1, 4) + Le(0, 4) + Le(2, 4) + Le(channels, 4) + Le(rate, 4) +
                            Le(1, 4) + Le(sampleCount, 8) + Le(block, 4) + Le(0, 4);
    const std::string body = fmt + "data" + Le(12 + data.size(), 8) + data;
    return "DSD " + Le(28, 8) + Le(28 + body.size(), 8) + Le(0, 8) + body;
}

// A DSDIFF file from its PROP body (after "SND ") and the chunks after PROP.
inline std::string Dff(const std::string& props, const std::string& chunks) {
    const std::string prop = "PROP" + Be(4 + props.size(), 8) + "SND " + props;
    const std::string body = "DSD " + prop + chunks;
    return "FRM8" + Be(body.size(), 8) + body;
}
inline std::string DffChunk(const std::string& id, const std::string& body) {
    return id + Be(body.size(), 8) + body;
}

// Single-quoted for the shell.
inline std::string Q(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A dsdhost run: its exit code and what it wrote on standard error.
struct HostRun {
    int code = -1;
    std::string err;
};

// Runs `dsdhost ARGS` through the shell (ARGS quoted by the caller) with the
// settings store in `configHome` when given; standard output is dropped.
inline HostRun RunHost(const std::string& args, const std::string& configHome = {}) {
    const TempDir scratch;
    const std::string env = configHome.empty() ? "" : "XDG_CONFIG_HOME=" + Q(configHome) + " ";
    const int rc = std::system((env + "timeout 60 " + Q(std::string(DSD_BIN_DIR) + "/dsdhost") + " " + args +
                                " >/dev/null 2>" + Q(scratch.Path("err"))).c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(scratch.Path("err"))};
}

}  // namespace hosttest
