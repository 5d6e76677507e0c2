// Super Audio CD disc-image builder: lays out a two-channel area and an
// optional multichannel area (1 to 6 channels) of plain or DST-coded audio in
// 2048- or 2064-byte sectors, with the master table of contents, master text,
// manufacturer sector, area tables of contents (track lists 1 and 2, track
// text) and the audio sectors (packets, frame infos, frames across sectors).
// Options produce the awkward cases of real discs: long frames split into
// many small packets, packets of other data types between audio packets,
// tracks that start in a sector still holding the previous track's last frame,
// silent gaps between tracks outside their listed length, and either form of
// the area header's audio-end field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/lib/DstEncoder.h"

namespace dsdtools {

// Bytes per channel of one 1/75-second frame at the disc rate 2822400 Hz.
constexpr uint32_t kSacdFrameBytesPerChannel = 4704;
constexpr uint32_t kSacdRate = 2822400;

struct SacdTrackSpec {
    // Bytes interleaved by channel, earliest bit in bit 7. A last partial
    // frame is completed with the 0x69 idle pattern.
    std::vector<uint8_t> dsd;
    std::string title;
    std::string performer;  // written as a track text item of another type
    // DST-coded areas: frames already coded (then `dsd` is not used, and the
    // track's expected bytes stay empty).
    std::vector<std::vector<uint8_t>> dstFrames;
};

struct SacdAreaSpec {
    uint32_t channels = 2;
    bool dst = false;
    std::vector<SacdTrackSpec> tracks;
};

struct SacdImageOptions {
    int32_t sectorSize = 2048;  // or 2064 (12-byte header, 4-byte trailer)
    std::string discTitle;
    std::string discArtist;
    // Longest audio packet (1..2047): small values split frames over more
    // packets and sectors.
    uint32_t maxPacketBytes = 2047;
    // After every N-th audio packet (0: never) a packet of another data type.
    uint32_t otherPacketEvery = 0;
    // Tracks follow one another in the same sector, so that a track's first
    // sector begins with the tail of the previous track's last frame.
    bool tracksInsideFrames = false;
    // Silent frames after every track but an area's last, not counted in the
    // track's listed length or duration (they belong to the track before).
    uint32_t gapFrames = 0;
    // Offset 76 of the area header: the last audio sector (true, the disc
    // format) or one past it.
    bool areaEndInclusive = true;
    // Two "SACD_IGL" sectors in each area's table of contents.
    bool ignoredTocSectors = false;
    DstEncoderOptions dstOptions;
};

// What the builder wrote for one track, in the order a reader lists tracks.
struct SacdBuiltTrack {
    uint32_t area = 0;  // 1 two-channel, 2 multichannel
    uint32_t channels = 0;
    int64_t firstSector = 0;   // where its first frame starts
    int64_t listedLength = 0;  // sectors, as written in track list 1
    uint32_t frames = 0;       // frames of music (without the gap)
    std::string title;
    // The bytes a reader must deliver: the music frames, then the gap.
    std::vector<uint8_t> expected;
    // Sector holding the start of each frame of `expected` (music and gap).
    std::vector<int64_t> frameStartSector;
};

struct SacdImage {
    std::vector<uint8_t> bytes;
    std::vector<SacdBuiltTrack> tracks;
    int64_t sectors = 0;
};

// False (with a reason) for options or inputs the disc cannot hold.
bool BuildSacdImage(const SacdImageOptions& options, const SacdAreaSpec& stereo, const SacdAreaSpec* multichannel,
                    SacdImage& image, std::string* error = nullptr);

}  // namespace dsdtools
