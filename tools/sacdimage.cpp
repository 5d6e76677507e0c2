// sacdimage: builds a Super Audio CD disc image from DSF or DSDIFF files at
// 2822400 Hz (the frames of DST-compressed DSDIFF files are taken as coded): a two-channel area from two-channel files and an optional
// multichannel area (1 to 6 channels), plain or DST-coded, in 2048- or
// 2064-byte sectors, with disc and track texts. Options make the awkward
// layouts of real discs (small packets, packets of other data types, tracks
// starting inside a sector of the previous track's last frame, silent gaps).
//
//   sacdimage [options] OUT.iso
//     --track FILE [--track FILE ...]          two-channel tracks, in order
//     --mc-track FILE [--mc-track FILE ...]    multichannel tracks, in order
//     --track-title T, --mc-track-title T      titles, in track order
//     --title T --artist A                     disc title and artist
//     --sector-size 2048|2064  --dst  --mc-dst
//     --packet-bytes N  --other-packets N  --inside-frames  --gap-frames N
//     --area-end inclusive|exclusive  --ignored-toc-sectors  --quiet
// Exit codes: 0 done, 1 an input could not be read or the image not written,
// 2 the inputs do not fit the disc; CLI11's own codes for malformed options.
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/lib/ByteSink.h"
#include "tools/lib/DsdSourceReader.h"
#include "tools/lib/DsdiffDstFrames.h"
#include "tools/lib/SacdImageBuilder.h"

using namespace dsdtools;

namespace {

bool LoadArea(const std::vector<std::string>& files, const std::vector<std::string>& titles, SacdAreaSpec& area,
              bool stereo) {
    for (size_t i = 0; i < files.size(); ++i) {
        DsdSource source;
        DstFrameFile coded;
        if (!ReadDsdSource(files[i], source)) {
            // A DST-compressed DSDIFF file: its frames go on the disc as they are.
            if (!ReadDsdiffDstFrames(files[i], coded)) {
                std::fprintf(stderr, "sacdimage: cannot read %s (DSF or DSDIFF expected)\n", files[i].c_str());
                return false;
            }
            if (!area.dst) {
                std::fprintf(stderr, "sacdimage: %s is DST-coded; its area needs --dst or --mc-dst\n",
                             files[i].c_str());
                return false;
            }
            source.channels = coded.channels;
            source.rate = coded.rate;
        }
        if (source.rate != kSacdRate) {
            std::fprintf(stderr, "sacdimage: %s is not at %u Hz\n", files[i].c_str(), kSacdRate);
            return false;
        }
        if (i == 0 && !stereo) area.channels = source.channels;
        if (source.channels != area.channels) {
            std::fprintf(stderr, "sacdimage: %s has %u channels, the area %u\n", files[i].c_str(), source.channels,
                         area.channels);
            return false;
        }
        SacdTrackSpec track;
        track.dsd = std::move(source.interleaved);
        track.dstFrames = std::move(coded.frames);
        track.title = i < titles.size() ? titles[i] : "Track " + std::to_string(i + 1);
        area.tracks.push_back(std::move(track));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Builds a Super Audio CD disc image from DSF or DSDIFF files."};
    std::vector<std::string> tracks, mcTracks, titles, mcTitles;
    std::string out, areaEnd = "inclusive";
    SacdImageOptions o;
    bool dst = false, mcDst = false, quiet = false;
    app.add_option("--track", tracks, "Two-channel track file (DSF or DSDIFF), in order")->required();
    app.add_option("--mc-track", mcTracks, "Multichannel track file (1 to 6 channels), in order");
    app.add_option("--track-title", titles, "Title of each two-channel track, in order");
    app.add_option("--mc-track-title", mcTitles, "Title of each multichannel track, in order");
    app.add_option("--title", o.discTitle, "Disc title");
    app.add_option("--artist", o.discArtist, "Disc artist");
    app.add_option("--sector-size", o.sectorSize, "2048, or 2064 (12-byte header and 4-byte trailer per sector)")
        ->check(CLI::IsMember({2048, 2064}));
    app.add_flag("--dst", dst, "DST-code the two-channel area");
    app.add_flag("--mc-dst", mcDst, "DST-code the multichannel area");
    app.add_option("--packet-bytes", o.maxPacketBytes, "Longest audio packet; small values spread frames over more sectors")
        ->check(CLI::Range(1, 2047));
    app.add_option("--other-packets", o.otherPacketEvery, "A packet of another data type after every N audio packets");
    app.add_flag("--inside-frames", o.tracksInsideFrames,
                 "Start each track in the sector that holds the previous track's last frame");
    app.add_option("--gap-frames", o.gapFrames, "Silent frames after each track but an area's last, outside its length");
    app.add_option("--area-end", areaEnd, "Area header audio end: the last sector (inclusive) or one past it")
        ->check(CLI::IsMember({"inclusive", "exclusive"}));
    app.add_flag("--ignored-toc-sectors", o.ignoredTocSectors, "Two ignorable sectors in each area's table of contents");
    app.add_flag("--quiet", quiet, "Print nothing on success");
    app.add_option("OUT", out, "Image file to write")->required();
    CLI11_PARSE(app, argc, argv);
    o.areaEndInclusive = areaEnd == "inclusive";

    SacdAreaSpec stereo, mc;
    stereo.dst = dst;
    mc.dst = mcDst;
    if (!LoadArea(tracks, titles, stereo, true) || !LoadArea(mcTracks, mcTitles, mc, false)) return 1;
    if (mcTracks.empty()) mc.tracks.clear();
    SacdImage image;
    std::string error;
    if (!BuildSacdImage(o, stereo, mcTracks.empty() ? nullptr : &mc, image, &error)) {
        std::fprintf(stderr, "sacdimage: %s\n", error.c_str());
        return 2;
    }
    if (!WriteFileBytes(out, image.bytes)) {
        std::fprintf(stderr, "sacdimage: cannot write %s\n", out.c_str());
        return 1;
    }
    if (!quiet) {
        std::printf("%s: %lld sectors of %d bytes, %zu tracks\n", out.c_str(), static_cast<long long>(image.sectors),
                    o.sectorSize, image.tracks.size());
        for (size_t i = 0; i < image.tracks.size(); ++i) {
            const SacdBuiltTrack& t = image.tracks[i];
            std::printf("  %2zu  area %u  %u ch  sectors %lld+%lld  %u frames  %s\n", i + 1, t.area, t.channels,
                        static_cast<long long>(t.firstSector), static_cast<long long>(t.listedLength), t.frames,
                        t.title.c_str());
        }
    }
    return 0;
}
