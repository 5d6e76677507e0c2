// Reader helpers shared by the containers: whole reads from readers that may
// deliver in pieces, and checked seeks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "plugin/kwapi/IKwReader.h"

// Reads up to `count` bytes, calling the reader until it has them or it
// delivers nothing; returns the bytes read.
inline size_t ReadAll(IKwReader* reader, void* buffer, size_t count) {
    constexpr size_t kMaxCall = size_t{1} << 30;  // the reader counts in i32
    size_t total = 0;
    while (total < count) {
        const size_t piece = std::min(count - total, kMaxCall);
        const int32_t got = reader->Read(static_cast<uint8_t*>(buffer) + total, static_cast<int32_t>(piece));
        if (got <= 0) break;
        total += std::min(static_cast<size_t>(got), piece);
    }
    return total;
}

inline bool SeekTo(IKwReader* reader, int64_t position) {
    return position >= 0 && reader->Seek(position, kKwSeekBegin) == position;
}
