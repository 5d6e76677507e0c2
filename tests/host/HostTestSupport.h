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

}  // namespace hosttest
