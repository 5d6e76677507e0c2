// Chunk structure of the DSDIFF files the generator writes.
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

// Walks the chunks in [begin, end), stepping over pad bytes; fails the test
// when a chunk runs past the end or the walk does not end exactly at `end`.
std::vector<Chunk> Walk(const std::vector<uint8_t>& f, size_t begin, size_t end) {
    std::vector<Chunk> out;
    size_t pos = begin;
    while (pos + 12 <= end) {
        Chunk c{std::string(f.begin() + static_cast<ptrdiff_t>(pos), f.begin() + static_cast<ptrdiff_t>(pos) + 4),
                pos + 12, LoadBE(&f[pos + 4], 8)};
        EXPECT_LE(c.body + c.size, end) << c.id;
        if (c.body + c.size > end) break;
        if (c.size & 1) {
            EXPECT_EQ(f[c.body + c.size], 0) << "pad byte after " << c.id;
        }
        out.push_back(c);
        pos = c.body + c.size + (c.size & 1);
    }
    EXPECT_EQ(pos, end);
    return out;
}

const Chunk* Find(const std::vector<Chunk>& cs, const std::string& id) {
    for (const Chunk& c : cs)
        if (c.id == id) return &c;
    return nullptr;
}

// Checks FRM8, FVER and PROP; returns the top-level chunks.
std::vector<Chunk> CheckHeader(const std::vector<uint8_t>& f, uint32_t channels, uint32_t rate, bool dst) {
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "FRM8");
    EXPECT_EQ(LoadBE(&f[4], 8), f.size() - 12);
    EXPECT_EQ(std::string(f.begin() + 12, f.begin() + 16), "DSD ");
    std::vector<Chunk> top = Walk(f, 16, f.size());
    EXPECT_GE(top.size(), 3u);
    if (top.size() < 3) return top;
    EXPECT_EQ(top[0].id, "FVER");
    EXPECT_EQ(top[0].size, 4u);
    EXPECT_EQ(LoadBE(&f[top[0].body], 4), 0x01050000u);
    EXPECT_EQ(top[1].id, "PROP");
    EXPECT_EQ(std::string(f.begin() + static_cast<ptrdiff_t>(top[1].body), f.begin() + static_cast<ptrdiff_t>(top[1].body) + 4), "SND ");
    std::vector<Chunk> prop = Walk(f, top[1].body + 4, top[1].body + top[1].size);
    const Chunk* fs = Find(prop, "FS  ");
    const Chunk* chnl = Find(prop, "CHNL");
    const Chunk* cmpr = Find(prop, "CMPR");
    EXPECT_TRUE(fs && chnl && cmpr);
    if (!fs || !chnl || !cmpr) return top;
    EXPECT_EQ(fs->size, 4u);
    EXPECT_EQ(LoadBE(&f[fs->body], 4), rate);
    EXPECT_EQ(chnl->size, 2u + 4 * channels);
    EXPECT_EQ(LoadBE(&f[chnl->body], 2), channels);
    const std::vector<std::string> ids = DsdiffChannelIds(channels);
    for (uint32_t c = 0; c < channels && c < ids.size(); ++c)
        EXPECT_EQ(std::string(f.begin() + static_cast<ptrdiff_t>(chnl->body + 2 + 4 * c),
                              f.begin() + static_cast<ptrdiff_t>(chnl->body + 6 + 4 * c)),
                  ids[c]);
    const std::string type(f.begin() + static_cast<ptrdiff_t>(cmpr->body), f.begin() + static_cast<ptrdiff_t>(cmpr->body) + 4);
    const std::string name(f.begin() + static_cast<ptrdiff_t>(cmpr->body) + 5,
                           f.begin() + static_cast<ptrdiff_t>(cmpr->body) + 5 + f[cmpr->body + 4]);
    EXPECT_EQ(type, dst ? "DST " : "DSD ");
    EXPECT_EQ(name, dst ? "DST Encoded" : "not compressed");
    EXPECT_EQ(cmpr->size % 2, 0u);  // the counted name is padded to an even length
    return top;
}

TEST(DsdiffWriter, PlainSoundDataInterleavedAndPadded) {
    EXPECT_EQ(DsdiffChannelIds(2), (std::vector<std::string>{"SLFT", "SRGT"}));
    EXPECT_EQ(DsdiffChannelIds(6), (std::vector<std::string>{"MLFT", "MRGT", "C   ", "LFE ", "LS  ", "RS  "}));
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        EXPECT_EQ(DsdiffChannelIds(channels).size(), channels);
        DsdSignal sig;
        sig.rate = kDsd64Rate;
        for (uint32_t c = 0; c < channels; ++c) sig.channels.push_back({{{1000.0 * (c + 1), -20, 0}}});
        const uint64_t samples = 8 * 1001 - 3;  // 1001 bytes per channel: odd for odd channel counts
        const DsdStream s = GenerateDsd(sig, samples);
        const std::vector<uint8_t> f = BuildDsdiff(s);
        std::vector<Chunk> top = CheckHeader(f, channels, kDsd64Rate, false);
        ASSERT_EQ(top.size(), 3u);
        const Chunk& dsd = top[2];
        ASSERT_EQ(dsd.id, "DSD ");
        ASSERT_EQ(dsd.size, 1001u * channels);
        size_t mismatches = 0;
        for (size_t i = 0; i < 1001; ++i)
            for (uint32_t c = 0; c < channels; ++c) mismatches += f[dsd.body + i * channels + c] != s.channels[c][i];
        EXPECT_EQ(mismatches, 0u);
    }
    EXPECT_TRUE(BuildDsdiff(MakeIdleStream(7, kDsd64Rate, 64)).empty());
}

TEST(DsdiffWriter, DstFramesWithPadsAndChecksums) {
    const std::vector<std::vector<uint8_t>> frames = {{1, 2, 3}, {4, 5, 6, 7}, {}, {8}};
    DsdiffOptions opt;
    opt.dstCrcs = {{0xAA, 0xBB, 0xCC, 0xDD}, {}, {0x11, 0x22, 0x33, 0x44}};
    const std::vector<uint8_t> f = BuildDsdiffDst(2, kDsd64Rate, frames, opt);
    std::vector<Chunk> top = CheckHeader(f, 2, kDsd64Rate, true);
    ASSERT_EQ(top.size(), 3u);
    ASSERT_EQ(top[2].id, "DST ");
    std::vector<Chunk> inner = Walk(f, top[2].body, top[2].body + top[2].size);
    const std::vector<std::string> order = {"FRTE", "DSTF", "DSTC", "DSTF", "DSTF", "DSTC", "DSTF"};
    ASSERT_EQ(inner.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(inner[i].id, order[i]) << i;
    EXPECT_EQ(inner[0].size, 6u);
    EXPECT_EQ(LoadBE(&f[inner[0].body], 4), 4u);
    EXPECT_EQ(LoadBE(&f[inner[0].body + 4], 2), 75u);
    // Frame bodies are read back bit for bit by the DST DSDIFF tests; here the sizes.
    const uint64_t sizes[] = {3, 4, 4, 0, 4, 1};
    for (size_t i = 1; i < order.size(); ++i) EXPECT_EQ(inner[i].size, sizes[i - 1]) << i;

    // Written to a file, the bytes are the same.
    const std::string path = TempPath("frames.dff");
    ASSERT_TRUE(WriteDsdiffDst(path, 2, kDsd64Rate, frames, opt));
    EXPECT_EQ(ReadFileBytes(path), f);
    std::remove(path.c_str());
    EXPECT_FALSE(WriteDsdiffDst(path, 0, kDsd64Rate, frames));
}

}  // namespace
