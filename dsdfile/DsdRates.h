// The sampling rates DSD audio comes in: 64 times 44100 or 48000 Hz, times 1,
// 2, 4, 8 or 16 (DSD64 to DSD1024). A file that declares another rate (64 Hz,
// 1 Hz, 2^32 - 1 Hz) is damaged, not a rare format: opening it would give a
// stream nobody can play and a meaningless duration.
#pragma once

#include <cstdint>

inline bool IsDsdRate(uint64_t rate) {
    for (uint64_t base : {uint64_t{44100} * 64, uint64_t{48000} * 64})
        for (uint64_t factor = 1; factor <= 16; factor *= 2)
            if (rate == base * factor) return true;
    return false;
}
