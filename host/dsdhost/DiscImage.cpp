#include "host/dsdhost/DiscImage.h"


#include <cstdio>
#include <filesystem>

#include "host/common/KwFileReader.h"
#include "sacd/CSacdIso.h"
#include "support/KwTypes.h"

bool ReadDiscFacts(const std::string& path, DiscFacts& facts, std::string& error) {
    facts = DiscFacts();
    KwFileReader reader(KwFromUtf8(path), true);
    reader.SetOption(KW_T("READ_ONLY"), KW_T("1"));
    if (!reader.Open()) {
        error = "cannot open " + path;
        return false;
    }
    CSacdIso iso(1);
    if (!iso.Open(&reader)) {
        error = path + " is not a readable Super Audio CD image";
        return false;
    }
    facts.title = KwToUtf8(iso.DiscTitle());
    facts.artist = KwToUtf8(iso.DiscArtist());
    facts.sectorSize = iso.SectorSize();
    for (size_t i = 0; i < iso.TrackCount(); ++i) {
        const CSacdIso::CTrack& t = iso.Track(i);
        facts.tracks.push_back({static_cast<int>(i + 1), t.area, t.channelCount, t.duration, KwToUtf8(t.title)});
    }
    return true;
}

int CmdTracks(const std::string& path) {
    DiscFacts facts;
    std::string error;
    if (!ReadDiscFacts(path, facts, error)) {
        std::fprintf(stderr, "dsdhost: %s\n", error.c_str());
        return 1;
    }
    std::printf("disc:    %s\n", facts.title.c_str());
    std::printf("artist:  %s\n", facts.artist.c_str());
    std::printf("sectors: %d bytes\n", facts.sectorSize);
    std::printf("  #  area           ch  duration   title\n");
    for (const DiscTrackFacts& t : facts.tracks) {
        const int64_t centis = static_cast<int64_t>(t.seconds * 100.0 + 0.5);
        std::printf("%3d  %-13s %3u  %3lld:%02lld.%02lld  %s\n", t.number,
                    t.area == 1 ? "two-channel" : "multichannel", t.channels,
                    static_cast<long long>(centis / 6000), static_cast<long long>(centis / 100 % 60),
                    static_cast<long long>(centis % 100), t.title.c_str());
    }
    return 0;
}

std::string TrackFileName(const DiscTrackFacts& track, const std::string& extension) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", track.number);
    std::string name = number;
    if (!track.title.empty()) name += " - " + track.title;
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|')
            c = '_';
    }
    return name + "." + extension;
}

std::string WithTrack(const std::string& path, int track) {
    return track > 0 ? path + ";" + std::to_string(track) : path;
}

int DecodeAllTracks(const std::string& image, const std::string& outDir, const std::string& extension,
                    const std::function<int(const std::string&, const std::string&)>& decodeOne) {
    DiscFacts facts;
    std::string error;
    if (!ReadDiscFacts(image, facts, error)) {
        std::fprintf(stderr, "dsdhost: %s\n", error.c_str());
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (!std::filesystem::is_directory(outDir)) {
        std::fprintf(stderr, "dsdhost: cannot create the folder %s\n", outDir.c_str());
        return 1;
    }
    for (const DiscTrackFacts& t : facts.tracks) {
        const std::string out = (std::filesystem::path(outDir) / TrackFileName(t, extension)).string();
        std::fprintf(stderr, "track %d -> %s\n", t.number, out.c_str());
        const int rc = decodeOne(WithTrack(image, t.number), out);
        if (rc != 0) return rc;
    }
    return 0;
}
