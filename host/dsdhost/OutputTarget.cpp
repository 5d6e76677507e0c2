#include "host/dsdhost/OutputTarget.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

// The temporary file of the decode in progress, removed when an interrupt or
// termination signal ends the program (only async-signal-safe calls here).
char g_temporary[4096];

void RemoveTemporaryAndDie(int sig) {
    if (g_temporary[0]) unlink(g_temporary);
    signal(sig, SIG_DFL);
    raise(sig);
}

void WatchSignals(const std::string& path) {
    if (path.size() >= sizeof(g_temporary)) return;
    std::memcpy(g_temporary, path.c_str(), path.size() + 1);
#ifdef _WIN32
    for (int sig : {SIGINT, SIGTERM}) signal(sig, RemoveTemporaryAndDie);
#else
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, RemoveTemporaryAndDie);
#endif
}

void UnwatchSignals() { g_temporary[0] = 0; }

}  // namespace

OutputTarget::~OutputTarget() {
    if (!temporary_) return;
    UnwatchSignals();
    unlink(writePath_.c_str());
}

#ifdef _WIN32

// Windows files have no inode: the paths are compared as the system resolves
// them, and the temporary file is renamed over the output with replacement.
std::string OutputTarget::Prepare(const std::string& out, const std::string& inputPath, dev_t, ino_t) {
    namespace fs = std::filesystem;
    target_ = writePath_ = out;
    if (out == "-") return {};
    std::error_code ec;
    if (fs::exists(out, ec)) {
        if (fs::equivalent(out, inputPath, ec))
            return "the output " + out + " is the input file itself; refusing to overwrite it";
        if (fs::is_directory(out, ec)) return "the output " + out + " is a folder";
        if (!fs::is_regular_file(out, ec)) return {};
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = out + ".dsdhost-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        FILE* file = fopen(candidate.c_str(), "wbx");
        if (!file) continue;
        fclose(file);
        writePath_ = candidate;
        temporary_ = true;
        WatchSignals(writePath_);
        return {};
    }
    return "cannot create a file beside " + out + ": " + strerror(errno);
}

std::string OutputTarget::Commit() {
    if (!temporary_) return {};
    std::error_code ec;
    std::filesystem::rename(writePath_, target_, ec);
    if (ec) return "cannot put the output in place as " + target_ + ": " + ec.message();
    temporary_ = false;
    UnwatchSignals();
    return {};
}

#else

std::string OutputTarget::Prepare(const std::string& out, const std::string&, dev_t inputDevice, ino_t inputInode) {
    target_ = writePath_ = out;
    if (out == "-") return {};
    struct stat info {};
    if (stat(out.c_str(), &info) == 0) {
        if (info.st_dev == inputDevice && info.st_ino == inputInode)
            return "the output " + out + " is the input file itself; refusing to overwrite it";
        if (S_ISDIR(info.st_mode)) return "the output " + out + " is a folder";
        // A device or FIFO (such as /dev/null) is written directly.
        if (!S_ISREG(info.st_mode)) return {};
        mode_ = info.st_mode & 07777;
        // Through a symlink the file it points to is replaced, not the link.
        if (char* real = realpath(out.c_str(), nullptr)) {
            target_ = real;
            free(real);
        }
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode_ = 0666 & ~mask;
    }
    const size_t slash = target_.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string pattern = folder + "." + name + ".dsdhost-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) return "cannot create a file beside " + out + ": " + strerror(errno);
    close(fd);
    writePath_ = buffer.data();
    temporary_ = true;
    WatchSignals(writePath_);
    return {};
}

std::string OutputTarget::Commit() {
    if (!temporary_) return {};
    if (chmod(writePath_.c_str(), mode_) != 0 || rename(writePath_.c_str(), target_.c_str()) != 0)
        return "cannot put the output in place as " + target_ + ": " + strerror(errno);
    temporary_ = false;
    UnwatchSignals();
    return {};
}

#endif
