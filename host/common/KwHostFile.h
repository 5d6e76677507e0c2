// Small file helpers of the reference host: a file handle with positioned
// reads and writes, whole-file reading, atomic replacement and folder
// creation. Every operating-system file call of the host libraries goes
// through here, so that the Windows build only needs this one file's other half.
#pragma once

#include <cstdint>
#include <vector>

#include "support/KwTypes.h"

class KwHostFile {
public:
    enum class Mode {
        ReadOnly,       // the file must exist
        ReadWrite,      // the file must exist; nothing is created
        CreateTruncate  // created when absent, emptied when present; write only
    };

    KwHostFile() = default;
    ~KwHostFile() { Close(); }
    KwHostFile(const KwHostFile&) = delete;
    KwHostFile& operator=(const KwHostFile&) = delete;

    bool Open(const KwString& path, Mode mode);
    void Close();
    bool IsOpen() const;
    // Opens `path` again for reading and writing in place of the open file,
    // provided the path still names that same file (device and file number
    // compared); otherwise, or when it cannot be opened for writing, the open
    // file stays as it was and false comes back.
    bool ReopenForWriting(const KwString& path);

    // Bytes transferred at `position` (may be fewer than asked at the end of
    // the file), or -1 on error. Retries interrupted and partial transfers.
    int64_t ReadAt(int64_t position, void* buffer, int64_t count);
    int64_t WriteAt(int64_t position, const void* buffer, int64_t count);
    // Current size in bytes, or -1.
    int64_t Size();
    // Sets the file's length (cuts or extends with zeros).
    bool Resize(int64_t size);
    // Flushes the file's data to the storage device.
    bool Sync();

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
    // A read-only open looks at what it opened (see Open): the size seen
    // then answers the first Size() call, unless the file was written or
    // resized in between. -1 when there is no such answer.
    int64_t sizeAtOpen_ = -1;
#endif
};

// Reads a whole file. False when it cannot be opened or read, or when it is
// larger than `maxBytes`.
bool KwHostReadWholeFile(const KwString& path, std::vector<uint8_t>& bytes, uint64_t maxBytes);

// Replaces `target` by `source` in one step (rename over an existing file).
bool KwHostReplaceFile(const KwString& source, const KwString& target);
bool KwHostRemoveFile(const KwString& path);
bool KwHostFileExists(const KwString& path);
// Creates a folder and its missing parents; true when the folder exists afterwards.
bool KwHostCreateFolders(const KwString& path);
// Flushes a folder's entries (makes a rename durable); best effort.
void KwHostSyncFolder(const KwString& path);
// The folder part of a path (without the trailing separator), or empty.
KwString KwHostFolderOf(const KwString& path);

// The names (not paths) of the entries of a folder; empty when it cannot be read.
std::vector<KwString> KwHostListFolder(const KwString& path);

// An exclusive lock that other processes honour: an advisory lock on a lock
// file (flock on POSIX, LockFileEx on Windows), created when absent and
// never removed, so that every process locks the same file. Released by the
// destructor or when the process ends, also when it is killed.
class KwHostFileLock {
public:
    KwHostFileLock() = default;
    ~KwHostFileLock() { Release(); }
    KwHostFileLock(const KwHostFileLock&) = delete;
    KwHostFileLock& operator=(const KwHostFileLock&) = delete;

    // Waits until the lock is held; false when the lock file cannot be opened.
    bool Acquire(const KwString& lockFilePath);
    void Release();

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// The value of an environment variable, or empty when it is unset.
KwString KwHostGetEnvironment(const char* name);
// A number that differs between processes and between calls (temporary names).
uint64_t KwHostUniqueNumber();
