// Damaged disc images: the open fails, or playback ends early with what was
// decoded; never a crash, a hang or unbounded memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "tests/sacd/SacdTestSupport.h"

namespace {

using sacdtest::ReadAll;
using sacdtest::Signal;
using Bytes = std::vector<uint8_t>;

constexpr size_t kSector = 2048;
constexpr size_t kMtoc = 510 * kSector;
constexpr size_t kArea1 = 544 * kSector;  // the builder's first area table of contents

// Two plain stereo tracks and two DST-coded six-channel tracks.
const dsdtools::SacdImage& BaseImage(int32_t sectorSize = 2048) {
    static dsdtools::SacdImage images[2];
    dsdtools::SacdImage& image = images[sectorSize == 2064];
    if (image.bytes.empty()) {
        dsdtools::SacdImageOptions o;
        o.sectorSize = sectorSize;
        o.dstOptions = sacdtest::QuickDst();
        dsdtools::SacdAreaSpec stereo, mc;
        stereo.tracks = {sacdtest::Track(Signal(2, 2, 1), "A"), sacdtest::Track(Signal(2, 3, 2), "B")};
        mc.channels = 6;
        mc.dst = true;
        mc.tracks = {sacdtest::Track(Signal(6, 2, 3), "C"), sacdtest::Track(Signal(6, 2, 4), "D")};
        EXPECT_TRUE(dsdtools::BuildSacdImage(o, stereo, &mc, image));
    }
    return image;
}

size_t Area2Toc() { return static_cast<size_t>(BaseImage().tracks[2].firstSector - 4) * kSector; }
size_t FirstAudio() { return static_cast<size_t>(BaseImage().tracks[0].firstSector) * kSector; }

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

struct Outcome {
    bool opened = false;
    size_t tracks = 0;
    std::vector<int64_t> delivered;  // per track; -1 when it cannot be selected
    std::vector<bool> dst;           // per selectable track: its sectors say DST
    bool refused = false;
};

Outcome Play(const Bytes& bytes) {
    Outcome r;
    auto reader = std::make_unique<KwMemoryReader>(bytes);
    CSacdIso iso(2);
    r.opened = iso.Open(reader.get());
    if (!r.opened) return r;
    r.tracks = iso.TrackCount();
    for (size_t t = 0; t < iso.TrackCount(); ++t) {
        if (!iso.SelectTrack(reader.get(), t)) {
            r.delivered.push_back(-1);
            continue;
        }
        r.dst.push_back(iso.TrackIsDst(reader.get()));
        r.delivered.push_back(static_cast<int64_t>(ReadAll(iso, reader.get(), 8192, 2000).size()));
        r.refused = r.refused || iso.DstRefused();
    }
    return r;
}

struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    std::function<void(const Outcome&)> check;
};

void FailsToOpen(const Outcome& r) { EXPECT_FALSE(r.opened); }

// No track delivers more than its area's audio.
void BoundedPlayback(const Outcome& r) {
    const auto& built = BaseImage().tracks;
    int64_t area[3] = {0, 0, 0};
    for (const auto& t : built) area[t.area] += static_cast<int64_t>(t.expected.size());
    for (size_t t = 0; t < r.delivered.size(); ++t)
        EXPECT_LE(r.delivered[t], std::max(area[1], area[2])) << "track " << t + 1;
}

TEST(SacdBadInput, DamagedImagesFailOrEndEarly) {
    const Case cases[] = {
        {"empty", [](Bytes& b) { b.clear(); }, FailsToOpen},
        {"cut inside the master TOC", [](Bytes& b) { b.resize(kMtoc + 100); }, FailsToOpen},
        {"cut inside area 1 TOC", [](Bytes& b) { b.resize(kArea1 + kSector + 7); }, FailsToOpen},
        {"cut inside the first track",
         [](Bytes& b) { b.resize(FirstAudio() + 6 * kSector + 100); },
         [](const Outcome& r) {
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.tracks, 2u);  // area 2 is beyond the cut and left out
             EXPECT_GT(r.delivered[0], 0);
             EXPECT_LT(r.delivered[0], static_cast<int64_t>(BaseImage().tracks[0].expected.size()));
             EXPECT_LE(r.delivered[1], 0);
         }},
        {"master TOC version 1.21", [](Bytes& b) { b[kMtoc + 9] = 21; }, FailsToOpen},
        {"master text sector without signature", [](Bytes& b) { b[kMtoc + 5 * kSector] = 'X'; }, FailsToOpen},
        {"manufacturer sector without signature", [](Bytes& b) { b[kMtoc + 9 * kSector + 4] = 'X'; }, FailsToOpen},
        {"area 1 TOC outside the file", [](Bytes& b) { Put32(b, kMtoc + 64, 0xFFFFFF00u); }, FailsToOpen},
        {"area 2 TOC outside the file",
         [](Bytes& b) { Put32(b, kMtoc + 72, 0x7FFFFFF0u); },
         [](const Outcome& r) {
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.tracks, 2u);
         }},
        {"area 1 TOC of zero sectors", [](Bytes& b) { b[kMtoc + 84] = b[kMtoc + 85] = 0; }, FailsToOpen},
        {"area TOCs of 65535 sectors", [](Bytes& b) { std::fill_n(b.begin() + kMtoc + 84, 4, 0xFF); }, BoundedPlayback},
        {"track count above the track list",
         [](Bytes& b) { b[kArea1 + 69] = 255; },
         [](const Outcome& r) {
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.tracks, 257u);
             BoundedPlayback(r);
         }},
        {"track count 0 in area 1",
         [](Bytes& b) { b[kArea1 + 69] = 0; },
         [](const Outcome& r) {
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.tracks, 2u);
         }},
        {"unknown sector after the area header",
         [](Bytes& b) { b[kArea1 + kSector] = 'X'; },
         [](const Outcome& r) {
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.delivered[0], -1);  // no sectors
             EXPECT_EQ(r.delivered[1], -1);
         }},
        {"track sectors outside the file",
         [](Bytes& b) { Put32(b, kArea1 + kSector + 8 + 4, 0x7FFFFF00u); },
         BoundedPlayback},
        {"packet lengths overrun the sector",
         [](Bytes& b) {
             b[FirstAudio() + 1] |= 7;
             b[FirstAudio() + 2] = 0xFF;
         },
         [](const Outcome& r) {
             // The sector is passed over: the track goes on at its second frame.
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.delivered[0], 2 * 4704);
         }},
        {"a frame that never ends",
         [](Bytes& b) {
             // No packet after the first one starts a frame.
             const size_t first = FirstAudio();
             for (size_t s = first; s < first + 12 * kSector; s += kSector) {
                 const size_t packets = b[s] >> 5;
                 for (size_t p = 0; p < packets; ++p)
                     if (s != first || p != 0) b[s + 1 + 2 * p] &= 0x7F;
             }
         },
         [](const Outcome& r) {
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.delivered[0], 0);
         }},
        {"seven channels with DST",
         [](Bytes& b) { b[Area2Toc() + 32] = 7; },
         [](const Outcome& r) {
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.delivered[2], 0);
             EXPECT_EQ(r.delivered[3], 0);
             EXPECT_TRUE(r.refused);
             EXPECT_FALSE(r.dst[1]);  // what the track container checks to refuse the track at open
             EXPECT_TRUE(r.dst[2]);
         }},
        {"zero channels",
         [](Bytes& b) { b[kArea1 + 32] = 0; },
         [](const Outcome& r) {
             ASSERT_TRUE(r.opened);
             EXPECT_EQ(r.delivered[0], 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = BaseImage().bytes;
        c.damage(bytes);
        c.check(Play(bytes));
    }
}

TEST(SacdBadInput, Image2064CutInsideASector) {
    const dsdtools::SacdImage& image = BaseImage(2064);
    const auto& track = image.tracks[1];
    for (const int64_t cut : {int64_t{5}, int64_t{12} + 700, int64_t{2060}}) {
        Bytes bytes = image.bytes;
        bytes.resize(static_cast<size_t>((track.firstSector + 7) * 2064 + cut));
        const Outcome r = Play(bytes);
        ASSERT_TRUE(r.opened);
        EXPECT_EQ(r.delivered[0], static_cast<int64_t>(image.tracks[0].expected.size()));
        EXPECT_GT(r.delivered[1], 0);
        EXPECT_LT(r.delivered[1], static_cast<int64_t>(track.expected.size()));
    }
}

// Track-list rules on a patched image: track list 2's 3 min 25 s 30 frames;
// the first track starts at the area's audio start whatever its own entry
// says; a gap goes to the track before. The reader stands at the first
// track's first sector after Open.
TEST(SacdToc, TrackListRules) {
    Bytes patched = BaseImage().bytes;
    patched[kArea1 + 2 * kSector + 1028] = 3;
    patched[kArea1 + 2 * kSector + 1029] = 25;
    patched[kArea1 + 2 * kSector + 1030] = 30;
    const auto first = static_cast<uint32_t>(BaseImage().tracks[0].firstSector);
    Put32(patched, kArea1 + kSector + 8, first + 1);  // track 1 listed one sector late,
    Put32(patched, kArea1 + kSector + 1028, 0);       // with no length
    auto reader = std::make_unique<KwMemoryReader>(patched);
    CSacdIso iso;
    ASSERT_TRUE(iso.Open(reader.get()));
    EXPECT_EQ(reader->GetPosition(), int64_t{first} * 2048);
    EXPECT_NEAR(iso.Track(0).duration, 205.4, 1e-9);
    EXPECT_EQ(iso.Track(0).firstSector, first);
    EXPECT_EQ(iso.Track(0).endSector, BaseImage().tracks[1].firstSector);
}

}  // namespace
