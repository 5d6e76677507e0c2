#include <gtest/gtest.h>

#include <vector>

#include "dsdfile/PlanarInterleave.h"

namespace {

// Every plane count (vector paths for two and four), lengths around the
// vector width, and missing planes: each byte lands in its frame and slot,
// nothing is written past the end.
TEST(PlanarInterleave, EqualsFrameBySlotCopy) {
    for (size_t count = 1; count <= 6; ++count) {
        for (size_t frames : {0, 1, 15, 16, 17, 33, 64, 100}) {
            for (int missing = -1; missing < static_cast<int>(count); missing += 2) {
                std::vector<std::vector<uint8_t>> data(count, std::vector<uint8_t>(frames));
                std::vector<const uint8_t*> planes(count);
                for (size_t i = 0; i < count; ++i) {
                    for (size_t k = 0; k < frames; ++k) data[i][k] = static_cast<uint8_t>(k * 7 + i * 31 + 1);
                    planes[i] = static_cast<int>(i) == missing ? nullptr : data[i].data();
                }
                std::vector<uint8_t> out(frames * count + 1, 0xEE);
                InterleavePlanes(planes.data(), count, frames, 0x69, out.data());
                for (size_t k = 0; k < frames; ++k) {
                    for (size_t i = 0; i < count; ++i) {
                        const uint8_t expect = static_cast<int>(i) == missing ? 0x69 : data[i][k];
                        ASSERT_EQ(expect, out[k * count + i]) << count << " " << frames << " " << k << " " << i;
                    }
                }
                EXPECT_EQ(0xEE, out.back());
            }
        }
    }
}

}  // namespace
