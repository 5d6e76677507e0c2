#include "tags/ID3v2Files.h"

#include <filesystem>
#include <fstream>

#include "support/KwPlatform.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <mutex>
#include <string>
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

namespace {

bool Retry(int result) { return result < 0 && errno == EINTR; }

// Writes all bytes at the start of an open file and cuts it to their length
// when it held `oldSize` bytes.
bool WriteAll(int fd, const std::vector<uint8_t>& bytes, off_t oldSize) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (Retry(static_cast<int>(put))) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    if (oldSize <= static_cast<off_t>(bytes.size())) return true;
    int result;
    do {
        result = ::ftruncate(fd, static_cast<off_t>(bytes.size()));
    } while (Retry(result));
    return result == 0;
}

// The picture files written lately, kept open. Opening and closing a file
// costs the system more than twice what writing a small picture does, and
// the same file (one per thread) is written again for every tag read.
// Before each write the name is looked up again: only while it still names
// the open file is that file written; a file deleted, replaced or moved away
// meanwhile is left alone and the name opened anew.
class OpenPictureFiles {
public:
    ~OpenPictureFiles() {
        for (Entry& e : entries_) Drop(e);
    }

    bool Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::lock_guard<std::mutex> hold(lock_);
        for (Entry& e : entries_) {
            if (e.fd < 0 || e.name != name) continue;
            struct stat info {};
            if (::stat(name.c_str(), &info) == 0 && info.st_dev == e.dev && info.st_ino == e.ino &&
                S_ISREG(info.st_mode) && WriteAll(e.fd, bytes, info.st_size))
                return true;
            Drop(e);
            break;
        }
        int fd;
        do {
            fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return false;
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !WriteAll(fd, bytes, info.st_size)) {
            ::close(fd);
            return false;
        }
        Entry& slot = entries_[next_++ % entries_.size()];
        Drop(slot);
        slot = {name, fd, info.st_dev, info.st_ino};
        return true;
    }

private:
    struct Entry {
        std::string name;
        int fd = -1;
        dev_t dev = 0;
        ino_t ino = 0;
    };
    static void Drop(Entry& e) {
        if (e.fd >= 0) ::close(e.fd);
        e = Entry{};
    }
    std::mutex lock_;
    std::array<Entry, 4> entries_{};  // a few threads reading pictures at once
    size_t next_ = 0;
};

}  // namespace

bool ID3v2WriteFile(const KwString& path, const std::vector<uint8_t>& bytes) {
    // The old file is overwritten in place and then cut to length rather than
    // truncated to nothing first: a file truncated to zero and written again
    // is flushed to disk on close by some file systems (ext4), which makes
    // reading the pictures of many files slow.
    static OpenPictureFiles files;
    const std::string name = KwToUtf8(path);
    return !name.empty() && files.Write(name, bytes);
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
