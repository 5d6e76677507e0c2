#include "host/common/KwHostFile.h"

#include "support/KwPlatform.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Transfers are done in pieces of at most 1 GiB so that every system call's
// count fits its argument type on both platforms.
constexpr int64_t kMaxPiece = int64_t(1) << 30;

}  // namespace

#if defined(_WIN32)

bool KwHostFile::Open(const KwString& path, Mode mode) {
    Close();
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (mode == Mode::ReadWrite) access = GENERIC_READ | GENERIC_WRITE;
    if (mode == Mode::CreateTruncate) {
        access = GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
    }
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = h;
    return true;
}

void KwHostFile::Close() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool KwHostFile::IsOpen() const { return handle_ != nullptr; }

bool KwHostFile::ReopenForWriting(const KwString& path) {
    if (!handle_) return false;
    BY_HANDLE_FILE_INFORMATION was{}, now{};
    if (!GetFileInformationByHandle(static_cast<HANDLE>(handle_), &was)) return false;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    if (!GetFileInformationByHandle(h, &now) || now.dwVolumeSerialNumber != was.dwVolumeSerialNumber ||
        now.nFileIndexHigh != was.nFileIndexHigh || now.nFileIndexLow != was.nFileIndexLow) {
        CloseHandle(h);
        return false;
    }
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = h;
    return true;
}

namespace {

// The file position of a positioned read or write.
OVERLAPPED OverlappedAt(int64_t where) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(where) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(where) >> 32);
    return at;
}

}  // namespace

int64_t KwHostFile::ReadAt(int64_t position, void* buffer, int64_t count) {
    if (!handle_ || position < 0 || count < 0) return -1;
    int64_t done = 0;
    while (done < count) {
        OVERLAPPED at = OverlappedAt(position + done);
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(count - done < kMaxPiece ? count - done : kMaxPiece);
        if (!ReadFile(static_cast<HANDLE>(handle_), static_cast<uint8_t*>(buffer) + done, want, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return done ? done : -1;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

int64_t KwHostFile::WriteAt(int64_t position, const void* buffer, int64_t count) {
    if (!handle_ || position < 0 || count < 0) return -1;
    int64_t done = 0;
    while (done < count) {
        OVERLAPPED at = OverlappedAt(position + done);
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(count - done < kMaxPiece ? count - done : kMaxPiece);
        if (!WriteFile(static_cast<HANDLE>(handle_), static_cast<const uint8_t*>(buffer) + done, want, &put, &at) ||
            put == 0)
            return done ? done : -1;
        done += put;
    }
    return done;
}

int64_t KwHostFile::Size() {
    LARGE_INTEGER size{};
    if (!handle_ || !GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) return -1;
    return size.QuadPart;
}

bool KwHostFile::Resize(int64_t size) {
    if (!handle_ || size < 0) return false;
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(static_cast<HANDLE>(handle_), FileEndOfFileInfo, &info, sizeof(info)) != 0;
}

bool KwHostFile::Sync() { return handle_ && FlushFileBuffers(static_cast<HANDLE>(handle_)) != 0; }

bool KwHostReplaceFile(const KwString& source, const KwString& target) {
    return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool KwHostRemoveFile(const KwString& path) { return DeleteFileW(path.c_str()) != 0; }

bool KwHostFileExists(const KwString& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool FolderExists(const KwString& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool MakeFolder(const KwString& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }

void KwHostSyncFolder(const KwString&) {
    // MOVEFILE_WRITE_THROUGH already made the rename durable.
}

std::vector<KwString> KwHostListFolder(const KwString& path) {
    std::vector<KwString> names;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((path + KW_T("\\*")).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const KwString name = entry.cFileName;
        if (name != KW_T(".") && name != KW_T("..")) names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

bool KwHostFileLock::Acquire(const KwString& lockFilePath) {
    Release();
    HANDLE h = CreateFileW(lockFilePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED at{};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
        CloseHandle(h);
        return false;
    }
    handle_ = h;
    return true;
}

void KwHostFileLock::Release() {
    if (!handle_) return;
    OVERLAPPED at{};
    UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &at);
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

KwString KwHostGetEnvironment(const char* name) {
    if (!name) return {};
    const KwString wide = KwFromUtf8(name);
    const DWORD needed = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (needed == 0) return {};
    KwString value(needed, 0);
    const DWORD got = GetEnvironmentVariableW(wide.c_str(), value.data(), needed);
    value.resize(got < needed ? got : 0);
    return value;
}

#else  // POSIX

bool KwHostFile::Open(const KwString& path, Mode mode) {
    Close();
    int flags = O_RDONLY;
    if (mode == Mode::ReadWrite) flags = O_RDWR;
    if (mode == Mode::CreateTruncate) flags = O_WRONLY | O_CREAT | O_TRUNC;
    const std::string name = KwToUtf8(path);
    if (name.empty()) return false;
    int fd;
    do {
        fd = ::open(name.c_str(), flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    // A folder opens only for reading (for writing the open fails with
    // EISDIR), so only a read-only open needs to look at what it opened.
    // The size it sees answers the first Size() call.
    struct stat info {};
    if (mode == Mode::ReadOnly) {
        if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
            ::close(fd);
            return false;
        }
        sizeAtOpen_ = static_cast<int64_t>(info.st_size);
    }
    fd_ = fd;
    return true;
}

void KwHostFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    sizeAtOpen_ = -1;
}

bool KwHostFile::ReopenForWriting(const KwString& path) {
    struct stat was {};
    if (fd_ < 0 || fstat(fd_, &was) != 0) return false;
    const std::string name = KwToUtf8(path);
    if (name.empty()) return false;
    int fd;
    do {
        fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat now {};
    if (fstat(fd, &now) != 0 || now.st_dev != was.st_dev || now.st_ino != was.st_ino) {
        ::close(fd);
        return false;
    }
    ::close(fd_);
    fd_ = fd;
    sizeAtOpen_ = -1;
    return true;
}

bool KwHostFile::IsOpen() const { return fd_ >= 0; }

int64_t KwHostFile::ReadAt(int64_t position, void* buffer, int64_t count) {
    if (fd_ < 0 || position < 0 || count < 0) return -1;
    int64_t done = 0;
    while (done < count) {
        const int64_t want = count - done < kMaxPiece ? count - done : kMaxPiece;
        const ssize_t got = ::pread(fd_, static_cast<uint8_t*>(buffer) + done, static_cast<size_t>(want),
                                    static_cast<off_t>(position + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return done ? done : -1;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

int64_t KwHostFile::WriteAt(int64_t position, const void* buffer, int64_t count) {
    if (fd_ < 0 || position < 0 || count < 0) return -1;
    sizeAtOpen_ = -1;
    int64_t done = 0;
    while (done < count) {
        const int64_t want = count - done < kMaxPiece ? count - done : kMaxPiece;
        const ssize_t put = ::pwrite(fd_, static_cast<const uint8_t*>(buffer) + done, static_cast<size_t>(want),
                                     static_cast<off_t>(position + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return done ? done : -1;
        }
        if (put == 0) return done ? done : -1;
        done += put;
    }
    return done;
}

int64_t KwHostFile::Size() {
    if (fd_ < 0) return -1;
    // The size the open saw is as good as one asked for now once, and saves
    // the reading of a small file one system call; later calls ask again.
    if (sizeAtOpen_ >= 0) {
        const int64_t size = sizeAtOpen_;
        sizeAtOpen_ = -1;
        return size;
    }
    struct stat info {};
    if (fstat(fd_, &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
}

bool KwHostFile::Resize(int64_t size) {
    if (fd_ < 0 || size < 0) return false;
    sizeAtOpen_ = -1;
    int result;
    do {
        result = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool KwHostFile::Sync() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool KwHostReplaceFile(const KwString& source, const KwString& target) {
    return ::rename(KwToUtf8(source).c_str(), KwToUtf8(target).c_str()) == 0;
}

bool KwHostRemoveFile(const KwString& path) { return ::unlink(KwToUtf8(path).c_str()) == 0; }

bool KwHostFileExists(const KwString& path) {
    struct stat info {};
    return ::stat(KwToUtf8(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

static bool FolderExists(const KwString& path) {
    struct stat info {};
    return ::stat(KwToUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

static bool MakeFolder(const KwString& path) { return ::mkdir(KwToUtf8(path).c_str(), 0755) == 0; }

void KwHostSyncFolder(const KwString& path) {
    const int fd = ::open(KwToUtf8(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::vector<KwString> KwHostListFolder(const KwString& path) {
    std::vector<KwString> names;
    DIR* dir = ::opendir(KwToUtf8(path).c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(KwFromUtf8(name));
    }
    ::closedir(dir);
    return names;
}

bool KwHostFileLock::Acquire(const KwString& lockFilePath) {
    Release();
    int fd;
    do {
        fd = ::open(KwToUtf8(lockFilePath).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    int result;
    do {
        result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void KwHostFileLock::Release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

KwString KwHostGetEnvironment(const char* name) {
    const char* value = name ? std::getenv(name) : nullptr;
    return value ? KwFromUtf8(value) : KwString();
}

#endif

bool KwHostReadWholeFile(const KwString& path, std::vector<uint8_t>& bytes, uint64_t maxBytes) {
    bytes.clear();
    KwHostFile file;
    if (!file.Open(path, KwHostFile::Mode::ReadOnly)) return false;
    const int64_t size = file.Size();
    if (size < 0 || static_cast<uint64_t>(size) > maxBytes) return false;
    bytes.resize(static_cast<size_t>(size));
    const int64_t got = size ? file.ReadAt(0, bytes.data(), size) : 0;
    if (got < 0) {
        bytes.clear();
        return false;
    }
    // A file that shrank while being read yields what was there.
    bytes.resize(static_cast<size_t>(got));
    return true;
}

static bool IsSeparator(KwChar c) { return c == KW_T('/') || c == kKwPathSeparator; }

KwString KwHostFolderOf(const KwString& path) {
    size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1])) --end;
    if (end == 0) return {};
    // Keep a lone root separator.
    return end == 1 ? path.substr(0, 1) : path.substr(0, end - 1);
}

bool KwHostCreateFolders(const KwString& path) {
    if (path.empty()) return false;
    if (FolderExists(path)) return true;
    const KwString parent = KwHostFolderOf(path);
    if (!parent.empty() && parent != path && !FolderExists(parent)) KwHostCreateFolders(parent);
    return MakeFolder(path) || FolderExists(path);
}

uint64_t KwHostUniqueNumber() {
    static std::atomic<uint64_t> counter{0};
    static const uint64_t seed = [] {
        std::random_device device;
        return (uint64_t(device()) << 32) ^ uint64_t(device()) ^
               static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    return seed + 0x9E3779B97F4A7C15ull * ++counter;
}
