// dsdhost's disc-image commands: the track list of an image (read from its
// tables of contents), and turning every track into a file of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct DiscTrackFacts {
    int number = 0;  // 1-based, over both areas
    uint32_t area = 0;
    uint32_t channels = 0;
    double seconds = 0.0;
    std::string title;
};

struct DiscFacts {
    std::string title;
    std::string artist;
    int32_t sectorSize = 0;
    std::vector<DiscTrackFacts> tracks;
};

// Reads the image's tables of contents; false (with a reason) when it is not
// a readable disc image.
bool ReadDiscFacts(const std::string& path, DiscFacts& facts, std::string& error);

// Prints the disc's title and artist and one line per track.
int CmdTracks(const std::string& path);

// "NN - Title.ext" (characters that file systems refuse become '_').
std::string TrackFileName(const DiscTrackFacts& track, const std::string& extension);

// Decodes every track of the image into `outDir` through `decodeOne(input
// "IMAGE;N", output path)`; stops at the first failure.
int DecodeAllTracks(const std::string& image, const std::string& outDir, const std::string& extension,
                    const std::function<int(const std::string&, const std::string&)>& decodeOne);

// "IMAGE;N" for a track number above 0, else the path unchanged.
std::string WithTrack(const std::string& path, int track);

