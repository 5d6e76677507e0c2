// Disc-image tracks played through dsdhost and the loaded plug-in: the track
// list shows what the builder wrote, a plain track's PCM equals the PCM of the
// same signal from a DSDIFF file, native output of both areas (plain and DST)
// is the source, and --all-tracks writes one FLAC file per track.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/e2e/E2eSupport.h"
#include "tools/lib/DsdSourceReader.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/SacdImageBuilder.h"

namespace {

using namespace e2e;

std::vector<uint8_t> Interleave(const dsdtools::DsdStream& s) {
    const size_t perChannel = s.channels[0].size();
    std::vector<uint8_t> out(perChannel * s.channels.size());
    for (size_t i = 0; i < perChannel; ++i)
        for (size_t c = 0; c < s.channels.size(); ++c) out[i * s.channels.size() + c] = s.channels[c][i];
    return out;
}

// The sound bytes of a plain DSDIFF file written by dsdhost.
std::vector<uint8_t> DsdiffSound(const fs::path& path) {
    dsdtools::DsdSource source;
    return dsdtools::ReadDsdSource(path.string(), source) ? source.interleaved : std::vector<uint8_t>();
}

TEST(SacdPlayback, TracksOfBothAreasThroughTheHost) {
    Workspace ws;
    const uint64_t frameBits = 4704 * 8;
    const dsdtools::DsdStream stereo = Tones(2, 2822400, 12 * frameBits);
    const dsdtools::DsdStream surround = Tones(6, 2822400, 5 * frameBits);
    dsdtools::SacdAreaSpec area1, area2;
    area2.channels = 6;
    area2.dst = true;
    const char* titles[] = {"Prelude", "Air", "Gigue", "North", "South", "Coda"};
    for (int t = 0; t < 3; ++t) {
        area1.tracks.push_back({Interleave(stereo), titles[t], "", {}});
        area2.tracks.push_back({Interleave(surround), titles[3 + t], "", {}});
    }
    dsdtools::SacdImageOptions o;
    o.sectorSize = 2064;
    o.tracksInsideFrames = true;
    o.discTitle = "Suite";
    o.discArtist = "Quartet";
    o.dstOptions.maxOrder = 16;
    dsdtools::SacdImage image;
    ASSERT_TRUE(dsdtools::BuildSacdImage(o, area1, &area2, image));
    const fs::path disc = ws / "disc.iso";
    std::ofstream(disc, std::ios::binary).write(reinterpret_cast<const char*>(image.bytes.data()),
                                                static_cast<std::streamsize>(image.bytes.size()));

    // The track list: what the builder wrote; track 4 is the first of area 2.
    const std::string list = Capture(Bin("dsdhost") + " tracks " + Quote(disc));
    EXPECT_NE(list.find("disc:    Suite"), std::string::npos) << list;
    EXPECT_NE(list.find("artist:  Quartet"), std::string::npos) << list;
    EXPECT_NE(list.find("  2  two-channel     2    0:00.16  Air"), std::string::npos) << list;
    EXPECT_NE(list.find("  4  multichannel    6    0:00.07  North"), std::string::npos) << list;

    // A plain track's PCM equals the PCM of the same signal from DSDIFF.
    const fs::path dff = ws / "same.dff";
    ASSERT_TRUE(dsdtools::WriteDsdiff(dff.string(), stereo));
    ASSERT_EQ(RunCommand(Bin("dsdhost") + " decode --output pcm " + Quote(dff) + " " + Quote(ws / "ref.wav")), 0);
    ASSERT_EQ(RunCommand(Bin("dsdhost") + " decode --output pcm '" + disc.string() + ";2' " + Quote(ws / "t2.wav")),
              0);
    const std::vector<uint8_t> ref = ReadBytes(ws / "ref.wav");
    EXPECT_GT(ref.size(), 100000u);
    EXPECT_TRUE(ReadBytes(ws / "t2.wav") == ref);

    // Native output of a DST track of area 2.
    ASSERT_EQ(RunCommand(Bin("dsdhost") + " decode --output native --track 5 " + Quote(disc) + " " +
                         Quote(ws / "t5.dff")),
              0);
    EXPECT_TRUE(DsdiffSound(ws / "t5.dff") == Interleave(surround));

    // What the plug-in reports for a track: its channels and duration, length 0.
    const std::string info = Capture(Bin("dsdhost") + " info '" + disc.string() + ";6'");
    EXPECT_NE(info.find("channels:      6"), std::string::npos) << info;
    EXPECT_NE(info.find("duration:      66 ms"), std::string::npos) << info;
    EXPECT_NE(info.find("length:        0 samples"), std::string::npos) << info;

    // Every track into FLAC; 24-bit FLAC keeps the WAV's samples to 2^-23.
    // (Track 1: later tracks continue the filter state of the track before,
    // as consecutive tracks do in one process.)
    ASSERT_EQ(RunCommand(Bin("dsdhost") + " decode --output pcm --all-tracks " + Quote(disc) + " " +
                         Quote(ws / "out") + " 2>/dev/null"),
              0);
    for (int t = 0; t < 6; ++t)
        EXPECT_TRUE(fs::exists(ws / "out" / ("0" + std::to_string(t + 1) + " - " + titles[t] + ".flac"))) << t;
    const std::vector<double> flac = FfmpegPcm(ws / "out" / "01 - Prelude.flac");
    const std::vector<double> wav = FfmpegPcm(ws / "t2.wav");
    ASSERT_EQ(flac.size(), wav.size());
    double worst = 0;
    for (size_t i = 0; i < flac.size(); ++i) worst = std::max(worst, std::fabs(flac[i] - wav[i]));
    EXPECT_LE(worst, std::ldexp(1.0, -23));
}

}  // namespace
