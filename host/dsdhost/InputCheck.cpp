#include "host/dsdhost/InputCheck.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstring>

#include "support/KwTypes.h"

namespace {

std::string Extension(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    const size_t slash = name.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string Describe(int error) {
    switch (error) {
        case ENOENT: return "no such file";
        case ENOTDIR: return "no such file (a part of the path is not a folder)";
        case EACCES:
        case EPERM: return "permission denied";
        default: return strerror(error);
    }
}

}  // namespace

bool IsUtf8(const std::string& text) {
    try {
        return KwToUtf8(KwFromUtf8(text)) == text;
    } catch (...) {
        return false;
    }
}

InputFile::~InputFile() {
    if (fd_ >= 0) close(fd_);
}

std::string InputFile::Open(const std::string& typed) {
    typed_ = fileName_ = typed;
    struct stat info {};
    int statError = stat(typed.c_str(), &info) == 0 ? 0 : errno;
    // "image.iso;3" names track 3 of a disc image when no file has that name.
    if (statError == ENOENT) {
        const size_t semicolon = typed.find_last_of(';');
        if (semicolon != std::string::npos && semicolon + 1 < typed.size() &&
            typed.find_first_not_of("0123456789", semicolon + 1) == std::string::npos) {
            struct stat base {};
            if (stat(typed.substr(0, semicolon).c_str(), &base) == 0) {
                fileName_ = typed.substr(0, semicolon);
                trackSuffix_ = typed.substr(semicolon);
                info = base;
                statError = 0;
            }
        }
    }
    if (statError) return Describe(statError);
    if (S_ISDIR(info.st_mode)) return "it is a folder, not a file";
    // Only regular files are opened: opening a FIFO or a device could block
    // or have effects of its own.
    if (!S_ISREG(info.st_mode)) return "it is not a regular file (a FIFO, device or socket)";
    int fd;
#ifdef _WIN32
    fd = open(fileName_.c_str(), O_RDONLY | O_BINARY);
#else
    do {
        fd = open(fileName_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
#endif
    if (fd < 0) return Describe(errno);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return "it is not a regular file (a FIFO, device or socket)";
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(info.st_size);
    device_ = info.st_dev;
    inode_ = info.st_ino;
    if (size_ == 0) return "the file is empty";
    return {};
}

std::string InputFile::PluginName() const {
    if (IsUtf8(fileName_) || fd_ < 0) return typed_;
    return "/proc/self/fd/" + std::to_string(fd_) + trackSuffix_;
}

HeaderFacts InputFile::Facts() const {
    const int fd = fd_;
    return CheckHeader(
        [fd](uint64_t position, void* buffer, size_t count) -> size_t {
            size_t done = 0;
            while (done < count) {
#ifdef _WIN32
                if (_lseeki64(fd, static_cast<int64_t>(position + done), SEEK_SET) < 0) break;
                const int got = _read(fd, static_cast<uint8_t*>(buffer) + done,
                                      static_cast<unsigned>(std::min<size_t>(count - done, 1u << 30)));
#else
                const ssize_t got = pread(fd, static_cast<uint8_t*>(buffer) + done, count - done,
                                          static_cast<off_t>(position + done));
#endif
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) break;
                done += static_cast<size_t>(got);
            }
            return done;
        },
        size_);
}

std::string InputFile::ExplainRefusal() const {
    const std::string ext = Extension(fileName_);
    if (ext == "iso" || ext == "sacd") return "the plug-in cannot play it (not a playable disc image or track)";
    const HeaderFacts facts = Facts();
    if (facts.kind.empty())
        return "not a DSD file (it begins with neither \"DSD \" for DSF nor \"FRM8\" for DSDIFF)";
    const std::string expected = ext == "dsf" ? "DSF" : ext == "dff" ? "DSDIFF" : "";
    if (expected.empty()) return "a " + facts.kind + " file, but its name does not end in .dsf or .dff";
    if (expected != facts.kind)
        return "a " + facts.kind + " file, but its name ends in ." + ext + " (" + expected + ")";
    if (!facts.fault.empty()) return "damaged " + facts.kind + " header: " + facts.fault;
    return "the plug-in refused it (its " + facts.kind + " header looks sound, but it is not playable)";
}
