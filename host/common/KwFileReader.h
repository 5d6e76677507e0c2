// KwFileReader: the reference host's reader over a file on disc.
#pragma once

#include <atomic>

#include "host/common/KwHostFile.h"
#include "plugin/kwapi/VBaseReader.h"

// The position a seek asks for: origin 0 counts from the start, 1 from
// `current`, 2 back from `size` by the offset's magnitude (whatever its sign,
// as VBaseReader::ResolvePosition does). -1 for an unknown origin, a target
// below 0 or an overflow. Positions beyond the end are allowed.
int64_t KwSeekTarget(int64_t current, int64_t size, int64_t offset, int32_t origin);

// A reader over a real file given by path. The option "READ_ONLY" = "1" opens
// it read-only, otherwise it is opened read-write; the file must exist either
// way (nothing is created).
class KwFileReader : public VBaseReader {
public:
    // With `readOnlyFallback`, a file that cannot be opened for writing is
    // read-only instead of failing: it is opened for reading, and the first
    // Write or Truncate opens it again for writing (refused when that fails
    // or the path names another file by then).
    explicit KwFileReader(KwString path, bool readOnlyFallback = false);
    ~KwFileReader() override;

    bool Open() override;
    void Abort() override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t GetSize() override;
    int64_t GetPosition() override;
    int64_t Seek(int64_t offset, int32_t origin) override;
    bool Truncate() override;
    bool HasCapability(int32_t capability) override;

    void Close();
    const KwString& Path() const { return path_; }
    bool IsWritable() const { return writable_; }

private:
    KwString path_;
    bool readOnlyFallback_;
    KwHostFile file_;
    int64_t position_ = 0;
    bool writable_ = false;
    // Opened read-only, to be opened for writing when a write comes.
    bool mayWrite_ = false;
    std::atomic<bool> aborted_{false};

    bool MakeWritable();
};
