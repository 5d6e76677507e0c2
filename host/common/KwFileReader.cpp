#include "host/common/KwFileReader.h"

int64_t KwSeekTarget(int64_t current, int64_t size, int64_t offset, int32_t origin) {
    int64_t target = -1;
    switch (origin) {
    case kKwSeekBegin:
        target = offset;
        break;
    case kKwSeekCurrent:
        if (__builtin_add_overflow(current, offset, &target)) return -1;
        break;
    case kKwSeekEnd: {
        if (offset == INT64_MIN || size < 0) return -1;
        target = size - (offset < 0 ? -offset : offset);
        break;
    }
    default:
        return -1;
    }
    return target < 0 ? -1 : target;
}

// ---- KwFileReader ----

KwFileReader::KwFileReader(KwString path, bool readOnlyFallback)
    : path_(std::move(path)), readOnlyFallback_(readOnlyFallback) {}

KwFileReader::~KwFileReader() { Close(); }

bool KwFileReader::Open() {
    Close();
    aborted_ = false;
    const bool readOnly = OptionValue(KW_T("READ_ONLY")) == KW_T("1");
    if (!readOnly && readOnlyFallback_) {
        // Most files are only read: opened read-only (a cheaper open), and
        // opened again for writing by the first Write or Truncate.
        if (!file_.Open(path_, KwHostFile::Mode::ReadOnly)) return false;
        writable_ = false;
        mayWrite_ = true;
    } else if (!readOnly && file_.Open(path_, KwHostFile::Mode::ReadWrite)) {
        writable_ = true;
    } else if (readOnly && file_.Open(path_, KwHostFile::Mode::ReadOnly)) {
        writable_ = false;
    } else {
        return false;
    }
    position_ = 0;
    open_ = 1;
    return true;
}

void KwFileReader::Close() {
    file_.Close();
    open_ = 0;
    writable_ = false;
    mayWrite_ = false;
    position_ = 0;
}

bool KwFileReader::MakeWritable() {
    if (writable_) return true;
    if (!mayWrite_) return false;
    // Asked once: a file that cannot be written (or that the path no longer
    // names) stays read-only, as an open that fell back to reading did.
    mayWrite_ = false;
    writable_ = file_.ReopenForWriting(path_);
    return writable_;
}

void KwFileReader::Abort() { aborted_ = true; }

int32_t KwFileReader::Read(void* buffer, int32_t count) {
    if (!open_ || aborted_ || !buffer || count <= 0) return 0;
    const int64_t got = file_.ReadAt(position_, buffer, count);
    if (got <= 0) return 0;
    position_ += got;
    return static_cast<int32_t>(got);
}

int32_t KwFileReader::Write(const void* buffer, int32_t count) {
    if (!open_ || (!buffer && count > 0) || count < 0 || !MakeWritable()) return -1;
    if (count == 0) return 0;
    const int64_t put = file_.WriteAt(position_, buffer, count);
    if (put < 0) return -1;
    position_ += put;
    return static_cast<int32_t>(put);
}

int64_t KwFileReader::GetSize() {
    if (!open_) return 0;
    return file_.Size();
}

int64_t KwFileReader::GetPosition() { return open_ ? position_ : 0; }

int64_t KwFileReader::Seek(int64_t offset, int32_t origin) {
    if (!open_) return -1;
    const int64_t size = origin == kKwSeekEnd ? file_.Size() : 0;
    const int64_t target = KwSeekTarget(position_, size, offset, origin);
    if (target < 0) return -1;
    position_ = target;
    return position_;
}

bool KwFileReader::Truncate() { return open_ && MakeWritable() && file_.Resize(position_); }

bool KwFileReader::HasCapability(int32_t capability) { return capability == kKwCapabilityAbort; }
