// Disc images from the builder, read back through CSacdIso: every track of
// both areas delivers exactly the frames it was built from, in both
// geometries, plain and DST, with every awkward layout option; the table of
// contents reports what the builder wrote; seeking restarts at the first
// frame start at or after the target sector.
#include <gtest/gtest.h>

#include <string>

#include "tests/sacd/SacdTestSupport.h"
#include "tools/lib/DsdiffDstFrames.h"
#include "tools/lib/DsdiffWriter.h"

namespace {

using dsdtools::SacdAreaSpec;
using dsdtools::SacdImage;
using dsdtools::SacdImageOptions;
using sacdtest::ReadAll;
using sacdtest::Signal;
using sacdtest::Track;

struct Layout {
    const char* name;
    int32_t sectorSize;
    bool stereoDst;
    uint32_t mcChannels;  // 0: no multichannel area
    bool mcDst;
    uint32_t packetBytes;
    uint32_t otherEvery;
    bool inside;
    uint32_t gap;
    bool inclusive;
    int64_t chunk;  // request size
};

const Layout kLayouts[] = {
    {"plain 2048", 2048, false, 0, false, 2047, 0, false, 0, true, 9408},
    {"plain 2064, 5 channels", 2064, false, 5, false, 2047, 0, false, 0, true, 7777},
    {"DST 2048, 6 channels DST", 2048, true, 6, true, 2047, 0, false, 0, true, 4096},
    {"DST 2064, 2+5", 2064, true, 5, true, 2047, 0, true, 0, false, 10000},
    {"small packets, frames over many sectors", 2048, false, 6, false, 300, 0, false, 0, true, 3333},
    {"other-type packets", 2064, true, 6, false, 900, 2, false, 0, true, 5000},
    {"tracks inside frames, plain", 2048, false, 5, false, 2047, 3, true, 0, true, 9408},
    {"tracks inside frames, DST, end field exclusive", 2048, true, 6, true, 700, 0, true, 0, false, 1},
    {"gaps, plain, end field exclusive", 2064, false, 6, false, 2047, 0, false, 2, false, 20000},
    {"gaps inside frames, DST", 2048, true, 5, true, 1500, 1, true, 1, true, 6000},
};

class SacdRoundTrip : public ::testing::TestWithParam<Layout> {};

TEST_P(SacdRoundTrip, EveryTrackDeliversItsSourceFrames) {
    const Layout& l = GetParam();
    SacdImageOptions o;
    o.sectorSize = l.sectorSize;
    o.discTitle = "Disc \xC3\xA9t\xC3\xA9";
    o.discArtist = "Ensemble";
    o.maxPacketBytes = l.packetBytes;
    o.otherPacketEvery = l.otherEvery;
    o.tracksInsideFrames = l.inside;
    o.gapFrames = l.gap;
    o.areaEndInclusive = l.inclusive;
    o.ignoredTocSectors = l.otherEvery != 0;
    o.dstOptions = sacdtest::QuickDst();
    SacdAreaSpec stereo, mc;
    stereo.dst = l.stereoDst;
    const uint32_t stereoFrames[] = {3, 2, 4};
    for (uint32_t t = 0; t < 3; ++t)
        stereo.tracks.push_back(Track(Signal(2, stereoFrames[t], t, t == 2 ? 1000 : 0),
                                      "Song " + std::to_string(t + 1), t == 1 ? "Soloist" : ""));
    mc.channels = l.mcChannels;
    mc.dst = l.mcDst;
    for (uint32_t t = 0; t < 3 && l.mcChannels; ++t)
        mc.tracks.push_back(Track(Signal(l.mcChannels, 2 + t % 2, 10 + t), "Surround " + std::to_string(t + 1)));
    SacdImage image;
    std::string error;
    ASSERT_TRUE(dsdtools::BuildSacdImage(o, stereo, l.mcChannels ? &mc : nullptr, image, &error)) << error;

    auto reader = std::make_unique<KwMemoryReader>(image.bytes);
    CSacdIso iso(2);
    ASSERT_TRUE(iso.Open(reader.get()));
    EXPECT_EQ(iso.SectorSize(), l.sectorSize);
    EXPECT_EQ(iso.DiscTitle(), KwFromUtf8(o.discTitle));
    EXPECT_EQ(iso.DiscArtist(), KW_T("Ensemble"));
    ASSERT_EQ(iso.TrackCount(), image.tracks.size());
    for (size_t i = 0; i < image.tracks.size(); ++i) {
        SCOPED_TRACE("track " + std::to_string(i + 1));
        const dsdtools::SacdBuiltTrack& built = image.tracks[i];
        const CSacdIso::CTrack& track = iso.Track(i);
        EXPECT_EQ(track.area, built.area);
        EXPECT_EQ(track.channelCount, built.channels);
        EXPECT_EQ(track.title, KwFromUtf8(built.title));
        EXPECT_NEAR(track.duration, built.frames / 75.0, 1e-9);
        EXPECT_EQ(track.firstSector, built.firstSector);
        ASSERT_TRUE(iso.SelectTrack(reader.get(), i));
        const std::vector<uint8_t> got = ReadAll(iso, reader.get(), l.chunk);
        ASSERT_EQ(got.size(), built.expected.size());
        EXPECT_TRUE(got == built.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SacdRoundTrip, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// Seeking: after SeekToSector and ResetDecoding the track delivers the source
// from the first frame that starts at or after the target sector, and nothing
// from before it.
TEST(SacdSeek, RestartsAtFirstFrameStartAtOrAfterTarget) {
    for (const bool dst : {false, true}) {
        SCOPED_TRACE(dst ? "DST" : "plain");
        SacdImageOptions o;
        o.sectorSize = 2064;
        o.maxPacketBytes = 1200;
        o.tracksInsideFrames = true;
        o.dstOptions = sacdtest::QuickDst();
        SacdAreaSpec stereo;
        stereo.dst = dst;
        stereo.tracks.push_back(Track(Signal(2, 3, 1), "One"));
        stereo.tracks.push_back(Track(Signal(2, 6, 2), "Two"));
        stereo.tracks.push_back(Track(Signal(2, 2, 3), "Three"));
        SacdImage image;
        ASSERT_TRUE(dsdtools::BuildSacdImage(o, stereo, nullptr, image));
        auto reader = std::make_unique<KwMemoryReader>(image.bytes);
        CSacdIso iso(1);
        ASSERT_TRUE(iso.Open(reader.get()));
        const dsdtools::SacdBuiltTrack& built = image.tracks[1];
        ASSERT_TRUE(iso.SelectTrack(reader.get(), 1));
        const CSacdIso::CTrack& track = iso.CurrentTrack();
        const size_t frameBytes = 2 * dsdtools::kSacdFrameBytesPerChannel;
        // Read a little first so that state from before the seek exists.
        KwByteBuffer some;
        ASSERT_TRUE(iso.ReadAudio(reader.get(), 5000, some));
        for (int64_t target = track.firstSector; target < track.endSector; target += 2) {
            SCOPED_TRACE("sector " + std::to_string(target));
            ASSERT_TRUE(iso.SeekToSector(reader.get(), target));
            iso.ResetDecoding();
            size_t k = 0;
            while (k < built.frameStartSector.size() && built.frameStartSector[k] < target) ++k;
            const std::vector<uint8_t> want(built.expected.begin() + static_cast<std::ptrdiff_t>(k * frameBytes),
                                            built.expected.end());
            EXPECT_TRUE(ReadAll(iso, reader.get(), 4321) == want);
        }
    }
}

// Frames of a DST-coded DSDIFF file go on the disc as they are and decode to
// the signal they were made from.
TEST(SacdBuilder, TakesCodedFramesOfADsdiffFile) {
    const std::vector<uint8_t> dsd = Signal(2, 3, 5);
    const auto coded = dsdtools::DstEncodeStream(dsd.data(), dsd.size(), 2, dsdtools::kSacdRate, sacdtest::QuickDst());
    dsdtools::DstFrameFile file;
    ASSERT_TRUE(dsdtools::ParseDsdiffDstFrames(dsdtools::BuildDsdiffDst(2, dsdtools::kSacdRate, coded), file));
    ASSERT_TRUE(file.frames == coded);
    SacdAreaSpec stereo;
    stereo.dst = true;
    for (const char* title : {"Coded", "Again"}) {  // the gap goes to the first track
        stereo.tracks.push_back(Track({}, title));
        stereo.tracks.back().dstFrames = file.frames;
    }
    SacdImageOptions o;
    o.gapFrames = 1;
    SacdImage image;
    ASSERT_TRUE(dsdtools::BuildSacdImage(o, stereo, nullptr, image));
    auto reader = std::make_unique<KwMemoryReader>(image.bytes);
    CSacdIso iso(2);
    ASSERT_TRUE(iso.Open(reader.get()));
    ASSERT_TRUE(iso.SelectTrack(reader.get(), 0));
    std::vector<uint8_t> want = dsd;
    want.resize(dsd.size() + 2 * dsdtools::kSacdFrameBytesPerChannel, 0x69);  // and the gap
    EXPECT_TRUE(ReadAll(iso, reader.get(), 50000) == want);
}

}  // namespace
