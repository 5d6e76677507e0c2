// What the ffmpeg decode (TestFfmpegDecode) and the DSDIFF reader's tests do
// not see in the DST files the generator writes: the version and compression
// names, pad bytes after odd chunks, and DSTC chunks among the frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SignalAnalysis.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;
using namespace dsdtest;

namespace {

// Walks the chunks in [begin, end): each must fit, an odd one must be followed
// by a zero pad byte, and the walk must end exactly at `end`. Returns the ids
// ("ID1 |ID2 |...") and the body offset and size of each chunk.
std::string Walk(const std::vector<uint8_t>& f, size_t begin, size_t end,
                 std::vector<std::pair<size_t, uint64_t>>* chunks = nullptr) {
    std::string ids;
    size_t pos = begin;
    while (pos + 12 <= end) {
        const uint64_t size = LoadBE(&f[pos + 4], 8);
        if (pos + 12 + size + (size & 1) > end) break;
        EXPECT_TRUE(size % 2 == 0 || f[pos + 12 + size] == 0) << "pad byte at " << pos + 12 + size;
        ids += std::string(f.begin() + static_cast<ptrdiff_t>(pos), f.begin() + static_cast<ptrdiff_t>(pos + 4)) + "|";
        if (chunks) chunks->emplace_back(pos + 12, size);
        pos += 12 + size + (size & 1);
    }
    EXPECT_EQ(pos, end);
    return ids;
}

bool Contains(const std::vector<uint8_t>& f, const std::string& bytes) {
    return std::string(f.begin(), f.end()).find(bytes) != std::string::npos;
}

const std::string kVersion("FVER\0\0\0\0\0\0\0\x04\x01\x05\0\0", 16);

TEST(DsdiffWriter, DstFramesWithPadsAndChecksums) {
    const std::vector<std::vector<uint8_t>> frames = {{1, 2, 3}, {4, 5, 6, 7}, {}, {8}};
    DsdiffOptions opt;
    opt.dstCrcs = {{0xAA, 0xBB, 0xCC, 0xDD}, {}, {0x11, 0x22, 0x33, 0x44}};
    const std::vector<uint8_t> f = BuildDsdiffDst(2, kDsd64Rate, frames, opt);
    std::vector<std::pair<size_t, uint64_t>> top, inner;
    ASSERT_EQ(Walk(f, 16, f.size(), &top), "FVER|PROP|DST |");
    EXPECT_TRUE(Contains(f, kVersion));
    EXPECT_TRUE(Contains(f, std::string("CMPR\0\0\0\0\0\0\0\x10" "DST \x0B" "DST Encoded", 28)));
    EXPECT_EQ(Walk(f, top[2].first, top[2].first + top[2].second, &inner), "FRTE|DSTF|DSTC|DSTF|DSTF|DSTC|DSTF|");
    const uint64_t sizes[] = {6, 3, 4, 4, 0, 4, 1};
    for (size_t i = 0; i < inner.size() && i < 7; ++i) EXPECT_EQ(inner[i].second, sizes[i]) << i;
    // Four frames at 75 per second.
    EXPECT_TRUE(Contains(f, std::string("FRTE\0\0\0\0\0\0\0\x06\0\0\0\x04\0\x4B", 18)));

    EXPECT_FALSE(WriteDsdiffDst(TempPath("none.dff"), 0, kDsd64Rate, frames));
}

}  // namespace
