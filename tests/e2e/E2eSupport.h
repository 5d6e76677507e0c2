// Helpers of the end-to-end tests: generated DSF files, the command-line host
// and ffmpeg as an independent decoder.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/lib/DsfWriter.h"
#include "tools/lib/SigmaDelta.h"

namespace e2e {

namespace fs = std::filesystem;

inline std::string Bin(const char* name) { return std::string(DSD_BIN_DIR) + "/" + name; }

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command; returns its exit status.
inline int RunCommand(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Runs a shell command and returns what it printed; empty when it failed.
inline std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    return pclose(pipe) == 0 ? out : "";
}

inline std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

// ffmpeg's decode of a file as interleaved doubles.
inline std::vector<double> FfmpegPcm(const fs::path& path) {
    std::vector<double> out;
    FILE* pipe = popen(("ffmpeg -v error -i " + Quote(path) + " -f f64le - 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    double buf[4096];
    size_t n;
    while ((n = fread(buf, sizeof(double), 4096, pipe)) > 0) out.insert(out.end(), buf, buf + n);
    pclose(pipe);
    return out;
}

// A temporary folder with its own settings store, removed at the end.
class Workspace {
public:
    Workspace() {
        dir_ = fs::temp_directory_path() / ("dsd-e2e-" + std::to_string(getpid()) + "-" +
                                            std::to_string(counter_++));
        fs::create_directories(dir_);
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path operator/(const std::string& name) const { return dir_ / name; }

private:
    fs::path dir_;
    static inline int counter_ = 0;
};

// A test signal: a distinct tone per channel.
inline dsdtools::DsdStream Tones(uint32_t channels, uint32_t rate, uint64_t samples) {
    dsdtools::DsdSignal signal;
    signal.rate = rate;
    for (uint32_t c = 0; c < channels; ++c) signal.channels.push_back({{{500.0 + 700.0 * c, -6.0, 0.3 * c}}});
    return dsdtools::GenerateDsd(signal, samples);
}

// The bytes of a stream interleaved by channel (the order DSDIFF stores).
inline std::vector<uint8_t> Interleave(const dsdtools::DsdStream& stream) {
    std::vector<uint8_t> out;
    for (size_t k = 0; k < stream.BytesPerChannel(); ++k)
        for (const auto& channel : stream.channels) out.push_back(channel[k]);
    return out;
}

}  // namespace e2e
