// Shared helpers of the plug-in tests: temporary folders, environment and the
// built host libraries.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "plugin/SharedToolsHelper.h"
#include "support/KwPlatform.h"

namespace fs = std::filesystem;

// A temporary folder removed at the end of the test.
class TempDir {
public:
    TempDir() {
        path_ = fs::temp_directory_path() / ("dsdtest-" + std::to_string(KwGetTickCount()) + "-" +
                                             std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

private:
    fs::path path_;
};

// Sets an environment variable for the scope of the object and restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name), had_(getenv(name) != nullptr) {
        if (had_) old_ = getenv(name);
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

inline std::string BinDir() { return DSD_BIN_DIR; }
inline std::string LibName(const char* base) { return std::string(base) + KwToUtf8(KwLibrarySuffix()); }

// Copies the named host libraries of the build into `folder`.
inline void CopyHostLibraries(const fs::path& folder, const std::vector<std::string>& names) {
    fs::create_directories(folder);
    for (const auto& name : names)
        fs::copy_file(fs::path(BinDir()) / LibName(name.c_str()), folder / LibName(name.c_str()),
                      fs::copy_options::overwrite_existing);
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Each test starts and ends with nothing loaded.
struct UnloadHostLibraries {
    UnloadHostLibraries() { CKwSharedToolsHelper::Instance().UnloadAll(); }
    ~UnloadHostLibraries() { CKwSharedToolsHelper::Instance().UnloadAll(); }
};
