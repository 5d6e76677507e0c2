#include "tags/ID3v2Files.h"

#include <filesystem>
#include <fstream>

#include "support/KwPlatform.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

std::filesystem::path PathOf(const KwString& path) {
#if defined(_WIN32)
    return std::filesystem::path(std::wstring(path));
#else
    return std::filesystem::path(KwToUtf8(path));
#endif
}

KwString FindTempFolder() {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) return {};
#if defined(_WIN32)
    KwString text = folder.wstring();
#else
    KwString text = KwFromUtf8(folder.string());
#endif
    if (!text.empty() && text.back() != kKwPathSeparator) text.push_back(kKwPathSeparator);
    return text;
}

}  // namespace

KwString ID3v2TempFolder() {
    // Found once per process (a file-system query each time adds up when the
    // pictures of many files are read); a folder not found is looked for again.
    static const KwString found = FindTempFolder();
    return found.empty() ? FindTempFolder() : found;
}

#if defined(_WIN32)

bool ID3v2WriteFile(const KwString& path, const std::vector<uint8_t>& bytes) {
    // The old file is overwritten in place and then cut to length rather than
    // truncated to nothing first: a file truncated to zero and written again
    // is flushed to disk on close by some file systems, which makes reading
    // pictures of many files slow.
    const std::filesystem::path p = PathOf(path);
    {
        std::fstream out(p, std::ios::binary | std::ios::in | std::ios::out);
        if (!out) out.open(p, std::ios::binary | std::ios::out | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) return false;
        out.close();
        if (out.fail()) return false;
    }
    std::error_code ec;
    if (std::filesystem::file_size(p, ec) != bytes.size()) std::filesystem::resize_file(p, bytes.size(), ec);
    return !ec;
}

#else

bool ID3v2WriteFile(const KwString& path, const std::vector<uint8_t>& bytes) {
    // The old file is overwritten in place and then cut to length rather than
    // truncated to nothing first: a file truncated to zero and written again
    // is flushed to disk on close by some file systems (ext4), which makes
    // reading the pictures of many files slow. Four system calls: open, the
    // old size from the open file, one write, close.
    const std::string name = KwToUtf8(path);
    if (name.empty()) return false;
    int fd;
    do {
        // Not through a symbolic link: the name is a known one in a shared
        // folder, and a link put there by someone else must not redirect the
        // picture onto another file.
        fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0)
            ok = false;
        else
            done += static_cast<size_t>(put);
    }
    if (ok && static_cast<uint64_t>(info.st_size) > bytes.size()) {
        int result;
        do {
            result = ::ftruncate(fd, static_cast<off_t>(bytes.size()));
        } while (result != 0 && errno == EINTR);
        ok = result == 0;
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

#endif

bool ID3v2ReadFile(const KwString& path, std::vector<uint8_t>& bytes, size_t limit) {
    std::error_code ec;
    const std::filesystem::path p = PathOf(path);
    if (!std::filesystem::is_regular_file(p, ec)) return false;
    const auto size = std::filesystem::file_size(p, ec);
    if (ec || size > limit) return false;
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    bytes.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return static_cast<size_t>(in.gcount()) == bytes.size();
}
