// The reference host's reader library: generic readers on file names (plain
// paths or XMLFN texts) and from-memory readers.
#include <atomic>
#include <new>
#include <vector>

#include "host/common/KwFileReader.h"
#include "host/common/KwMemoryReader.h"
#include "plugin/kwapi/IKwTools.h"
#include "tags/KwXMLFilename.h"

namespace {

std::atomic<int32_t> g_initializeCount{0};

// Files larger than this are not copied into memory.
constexpr int64_t kMaxInMemoryBytes = int64_t(2) << 30;
constexpr int32_t kCopyChunk = 1 << 20;

}  // namespace

KW_EXPORT void KwReaderInitialize(intptr_t /*context*/) { ++g_initializeCount; }

KW_EXPORT void KwReaderUninitialize(intptr_t /*context*/) {
    int32_t count = g_initializeCount.load();
    while (count > 0 && !g_initializeCount.compare_exchange_weak(count, count - 1)) {
    }
}

// A reader (not yet open) on the file that `argument` names. The reader opens
// the file read-write, so that tags can be written through it, and read-only
// when writing is not allowed. Null for a missing or empty name.
KW_EXPORT IKwReader* CreateGenericReaderDLL(const KwChar* argument) {
    if (!argument || !*argument) return nullptr;
    try {
        KwString name = KwXMLFilename::FileNameOf(argument);
        if (name.empty()) return nullptr;
        return new KwFileReader(std::move(name), true);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Reads the whole file of an open `reader` into memory and returns a new,
// open reader over those bytes. On success the given reader is destroyed (this
// library takes it over). On failure null comes back and the given reader is
// left to the caller, rewound to where it was, since the caller goes on
// using it.
KW_EXPORT IKwReader* CreateFromMemoryReaderDLL(IKwReader* reader) {
    if (!reader || !reader->IsOpen()) return nullptr;
    const int64_t start = reader->GetPosition();
    try {
        const int64_t size = reader->GetSize();
        if (size < 0 || size > kMaxInMemoryBytes || reader->Seek(0, kKwSeekBegin) != 0) {
            reader->Seek(start, kKwSeekBegin);
            return nullptr;
        }
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        size_t filled = 0;
        for (;;) {
            if (filled == bytes.size()) {
                // The size may have been short; read on until the end.
                if (static_cast<int64_t>(bytes.size()) >= kMaxInMemoryBytes) break;
                bytes.resize(bytes.size() + kCopyChunk);
            }
            const size_t room = bytes.size() - filled;
            const int32_t want = room < static_cast<size_t>(kCopyChunk) ? static_cast<int32_t>(room) : kCopyChunk;
            const int32_t got = reader->Read(bytes.data() + filled, want);
            if (got <= 0) break;
            filled += static_cast<size_t>(got < want ? got : want);
        }
        if (filled < static_cast<size_t>(size)) {
            // The file could not be read to its end (read error or abort).
            reader->Seek(start, kKwSeekBegin);
            return nullptr;
        }
        bytes.resize(filled);
        IKwReader* copy = new KwMemoryReader(std::move(bytes));
        KwDestroy(reader);
        return copy;
    } catch (const std::bad_alloc&) {
        reader->Seek(start, kKwSeekBegin);
        return nullptr;
    }
}
