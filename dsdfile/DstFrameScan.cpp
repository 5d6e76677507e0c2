#include "dsdfile/DstFrameScan.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeader = 12;
constexpr size_t kScanBlock = 64 * 1024;

uint64_t ReadBe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

bool IsFrameOrChecksum(const uint8_t* p) { return !std::memcmp(p, "DSTF", 4) || !std::memcmp(p, "DSTC", 4); }

// A "DSTF" header at `at` whose chunk fits and is followed by the end or a frame or checksum chunk.
bool Plausible(const DstReadAtFn& readAt, int64_t at, int64_t end, uint64_t maxFrame) {
    uint8_t header[kHeader];
    if (end - at < static_cast<int64_t>(kHeader) || readAt(at, header, kHeader) < kHeader ||
        std::memcmp(header, "DSTF", 4))
        return false;
    const uint64_t size = ReadBe64(header + 4);
    if (size == 0 || size > maxFrame || size > static_cast<uint64_t>(end - at) - kHeader) return false;
    const int64_t next = at + static_cast<int64_t>(kHeader + size);
    uint8_t after[5] = {};
    const size_t got = next < end ? readAt(next, after, static_cast<size_t>(std::min<int64_t>(5, end - next))) : 0;
    if (next >= end || (next + 1 == end && (size & 1))) return true;
    if (got >= 4 && IsFrameOrChecksum(after)) return true;
    return (size & 1) && got >= 5 && IsFrameOrChecksum(after + 1);
}

}  // namespace

int64_t FindNextDstFrame(const DstReadAtFn& readAt, int64_t from, int64_t end, uint64_t maxFrame) {
    std::vector<uint8_t> block(kScanBlock + 3);
    for (int64_t at = from; at + static_cast<int64_t>(kHeader) <= end;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block.size()), end - at));
        const size_t got = readAt(at, block.data(), want);
        if (got < 4) return -1;
        for (size_t i = 0; i + 4 <= got; ++i) {
            if (block[i] == 'D' && !std::memcmp(&block[i], "DSTF", 4) &&
                Plausible(readAt, at + static_cast<int64_t>(i), end, maxFrame))
                return at + static_cast<int64_t>(i);
        }
        at += static_cast<int64_t>(got - 3);  // an ID may straddle two blocks
    }
    return -1;
}

uint64_t DstFramesLost(uint64_t skipped, uint64_t bytesSeen, uint64_t framesSeen) {
    const uint64_t mean = framesSeen ? bytesSeen / framesSeen : 0;
    if (mean == 0) return 1;
    return (skipped + mean / 2) / mean;
}

bool DstFrameCountPlausible(uint64_t count, uint64_t dataLength, uint64_t maxFrameChunk) {
    if (count == 0 || count > dataLength / kHeader) return false;
    // Each frame's chunks: the frame chunk and, at most, a checksum chunk.
    const uint64_t perFrame = maxFrameChunk + kHeader + 64;
    return count >= dataLength / perFrame;
}
