// Chunk structure of the DSDIFF files the generator writes, as far as the
// ffmpeg decode (TestFfmpegDecode) cannot see it: the compression names, pad
// bytes after odd chunks and the DST chunk order.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "SignalAnalysis.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;
using namespace dsdtest;

namespace {

struct Chunk {
    std::string id;
    size_t body;  // offset of the body
    uint64_t size;
};

std::string Text(const std::vector<uint8_t>& f, size_t at, size_t n) {
    return std::string(f.begin() + static_cast<ptrdiff_t>(at), f.begin() + static_cast<ptrdiff_t>(at + n));
}

// Walks the chunks in [begin, end): each must fit, an odd one must be
// followed by a zero pad byte, the walk must end exactly at `end`, and the
// ids must be `ids` ("ID1 |ID2 |...").
std::vector<Chunk> Walk(const std::vector<uint8_t>& f, size_t begin, size_t end, const std::string& ids) {
    std::vector<Chunk> out;
    std::string seen;
    size_t pos = begin;
    while (pos + 12 <= end) {
        const Chunk c{Text(f, pos, 4), pos + 12, LoadBE(&f[pos + 4], 8)};
        if (c.body + c.size + (c.size & 1) > end) break;
        EXPECT_TRUE(c.size % 2 == 0 || f[c.body + c.size] == 0) << "pad byte after " << c.id;
        out.push_back(c);
        seen += c.id + "|";
        pos = c.body + c.size + (c.size & 1);
    }
    EXPECT_EQ(pos, end);
    EXPECT_EQ(seen, ids);
    return seen == ids ? out : std::vector<Chunk>();
}

// Checks the form and PROP; returns the top-level chunks. (The channel
// identifiers and the rate are read back by the DSDIFF reader's tests.)
std::vector<Chunk> CheckHeader(const std::vector<uint8_t>& f, bool dst) {
    EXPECT_EQ(Text(f, 0, 4) + Text(f, 12, 4), "FRM8DSD ");
    EXPECT_EQ(LoadBE(&f[4], 8), f.size() - 12);
    const std::vector<Chunk> top = Walk(f, 16, f.size(), dst ? "FVER|PROP|DST |" : "FVER|PROP|DSD |");
    if (top.empty()) return {};
    EXPECT_EQ(LoadBE(&f[top[0].body], 4), kDsdiffVersion);
    EXPECT_EQ(Text(f, top[1].body, 4), "SND ");
    const std::vector<Chunk> prop = Walk(f, top[1].body + 4, top[1].body + top[1].size, "FS  |CHNL|CMPR|");
    if (prop.empty()) return {};
    // A counted name, padded to an even length.
    const std::string name = dst ? "DST Encoded" : "not compressed";
    EXPECT_EQ(Text(f, prop[2].body, prop[2].size), (dst ? "DST " : "DSD ") + std::string(1, char(name.size())) +
                                                         name + std::string(name.size() % 2 ? 0 : 1, '\0'));
    return top;
}

TEST(DsdiffWriter, PlainSoundDataPadded) {
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        const DsdStream s = MakeIdleStream(channels, kDsd64Rate, 8 * 1001 - 3);  // odd chunks for odd counts
        const std::vector<uint8_t> f = BuildDsdiff(s);
        const std::vector<Chunk> top = CheckHeader(f, false);
        ASSERT_EQ(top.size(), 3u);
        EXPECT_EQ(top[2].size, 1001u * channels);
    }
    EXPECT_TRUE(BuildDsdiff(MakeIdleStream(7, kDsd64Rate, 64)).empty());
}

TEST(DsdiffWriter, DstFramesWithPadsAndChecksums) {
    const std::vector<std::vector<uint8_t>> frames = {{1, 2, 3}, {4, 5, 6, 7}, {}, {8}};
    DsdiffOptions opt;
    opt.dstCrcs = {{0xAA, 0xBB, 0xCC, 0xDD}, {}, {0x11, 0x22, 0x33, 0x44}};
    const std::vector<uint8_t> f = BuildDsdiffDst(2, kDsd64Rate, frames, opt);
    const std::vector<Chunk> top = CheckHeader(f, true);
    ASSERT_EQ(top.size(), 3u);
    const std::vector<Chunk> inner =
        Walk(f, top[2].body, top[2].body + top[2].size, "FRTE|DSTF|DSTC|DSTF|DSTF|DSTC|DSTF|");
    ASSERT_EQ(inner.size(), 7u);
    EXPECT_EQ(LoadBE(&f[inner[0].body], 4) << 16 | LoadBE(&f[inner[0].body + 4], 2), 4u << 16 | 75u);
    const uint64_t sizes[] = {6, 3, 4, 4, 0, 4, 1};
    for (size_t i = 0; i < inner.size(); ++i) EXPECT_EQ(inner[i].size, sizes[i]) << i;

    const std::string path = TempPath("frames.dff");
    ASSERT_TRUE(WriteDsdiffDst(path, 2, kDsd64Rate, frames, opt));
    EXPECT_EQ(ReadFileBytes(path), f);
    std::remove(path.c_str());
    EXPECT_FALSE(WriteDsdiffDst(path, 0, kDsd64Rate, frames));
}

}  // namespace
