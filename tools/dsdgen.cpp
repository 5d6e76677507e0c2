// dsdgen: writes a DSF or plain DSDIFF file holding sigma-delta modulated test
// tones (or silence), chosen by the output file's extension.
//
//   dsdgen [--rate 2822400|5644800|11289600] [--channels N]
//          [--seconds S | --samples N] [--freq HZ[+HZ...][,HZ...]] [--level DBFS]
//          [--silence] [--dither-db DB] [--block-size B] [--id3-title T]
//          [--id3-artist A] [--id3-album B] [--lsco N] OUT.dsf|OUT.dff
//
// --freq lists one entry per channel (the list repeats when shorter than the
// channel count); an entry may sum several tones with '+'. Exit codes: 0 done,
// 1 the file could not be written, 2 bad arguments, 3 the signal overloaded the
// modulator (keep the sum of a channel's tones below about -2.5 dBFS); CLI11's
// own codes for malformed options.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/DsfWriter.h"
#include "tools/lib/SigmaDelta.h"

using namespace dsdtools;

namespace {

std::string LowerExtension(const std::string& path) {
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool ParseFrequencies(const std::string& text, std::vector<std::vector<double>>& out) {
    out.clear();
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        std::string entry = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        std::vector<double> tones;
        size_t p = 0;
        while (p <= entry.size()) {
            size_t plus = entry.find('+', p);
            std::string one = entry.substr(p, plus == std::string::npos ? std::string::npos : plus - p);
            try {
                size_t used = 0;
                double f = std::stod(one, &used);
                if (used != one.size() || !(f > 0)) return false;
                tones.push_back(f);
            } catch (...) {
                return false;
            }
            if (plus == std::string::npos) break;
            p = plus + 1;
        }
        out.push_back(tones);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return !out.empty();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Writes DSF or DSDIFF files with sigma-delta modulated test tones."};
    uint32_t rate = kDsd64Rate;
    uint32_t channels = 2;
    double seconds = 1.0;
    uint64_t samples = 0;
    std::string freqText = "1000";
    double level = -6.0;
    bool silence = false;
    double ditherDb = 0;
    uint32_t blockSize = kDsfDefaultBlockSize;
    std::string title, artist, album;
    int32_t lsco = -1;
    std::string outPath;

    app.add_option("--rate", rate, "DSD rate in Hz")->check(CLI::IsMember({kDsd64Rate, kDsd128Rate, kDsd256Rate}));
    app.add_option("--channels", channels, "channel count")->check(CLI::Range(1, 6));
    auto* secOpt = app.add_option("--seconds", seconds, "length in seconds")->check(CLI::Range(0.0, 3600.0));
    auto* smpOpt = app.add_option("--samples", samples, "length in samples per channel");
    secOpt->excludes(smpOpt);
    app.add_option("--freq", freqText, "tone frequencies in Hz: per channel, comma separated; '+' sums tones");
    app.add_option("--level", level, "level of each tone in dB relative to full modulation")->check(CLI::Range(-200.0, 0.0));
    app.add_flag("--silence", silence, "modulate silence instead of tones");
    app.add_option("--dither-db", ditherDb, "triangular dither peak level in dB (0: none)")->check(CLI::Range(-200.0, 0.0));
    app.add_option("--block-size", blockSize, "DSF block size per channel in bytes")->check(CLI::Range(1u, 1u << 24));
    app.add_option("--id3-title", title, "DSF: ID3v2 title (TIT2)");
    app.add_option("--id3-artist", artist, "DSF: ID3v2 artist (TPE1)");
    app.add_option("--id3-album", album, "DSF: ID3v2 album (TALB)");
    app.add_option("--lsco", lsco, "DSDIFF: loudspeaker configuration code")->check(CLI::Range(0, 65535));
    app.add_option("output", outPath, "output file (.dsf or .dff)")->required();
    CLI11_PARSE(app, argc, argv);

    const std::string ext = LowerExtension(outPath);
    if (ext != "dsf" && ext != "dff") {
        std::fprintf(stderr, "dsdgen: the output name must end in .dsf or .dff\n");
        return 2;
    }
    if (!smpOpt->count()) samples = static_cast<uint64_t>(std::llround(seconds * rate));
    // The file is built in memory; keep it to a size a test machine can hold.
    if (samples / 8 >= (uint64_t{1} << 31) / channels) {
        std::fprintf(stderr, "dsdgen: more than 2 GiB of audio is more than this tool writes\n");
        return 2;
    }

    DsdSignal signal;
    signal.rate = rate;
    signal.channels.resize(channels);
    if (!silence) {
        std::vector<std::vector<double>> freqs;
        if (!ParseFrequencies(freqText, freqs)) {
            std::fprintf(stderr, "dsdgen: bad --freq list \"%s\"\n", freqText.c_str());
            return 2;
        }
        for (uint32_t ch = 0; ch < channels; ++ch)
            for (double f : freqs[ch % freqs.size()]) {
                Tone t;
                t.frequency = f;
                t.levelDb = level;
                signal.channels[ch].tones.push_back(t);
            }
    }
    if (ditherDb < 0) signal.ditherAmplitude = std::pow(10.0, ditherDb / 20.0);

    DsdStream stream = GenerateDsd(signal, samples);
    bool ok;
    if (ext == "dsf") {
        DsfOptions options;
        options.blockSize = blockSize;
        std::vector<std::pair<std::string, std::string>> frames;
        if (!title.empty()) frames.emplace_back("TIT2", title);
        if (!artist.empty()) frames.emplace_back("TPE1", artist);
        if (!album.empty()) frames.emplace_back("TALB", album);
        if (!frames.empty()) options.tag = MakeId3v23Tag(frames);
        ok = WriteDsf(outPath, stream, options);
    } else {
        DsdiffOptions options;
        options.loudspeakerConfig = lsco;
        ok = WriteDsdiff(outPath, stream, options);
    }
    if (!ok) {
        std::fprintf(stderr, "dsdgen: cannot write %s\n", outPath.c_str());
        return 1;
    }
    std::printf("%s: %u channel(s), %u Hz, %llu samples per channel\n", outPath.c_str(), channels, rate,
                static_cast<unsigned long long>(samples));
    if (stream.clampCount) {
        // The file exists but does not hold the requested signal.
        std::fprintf(stderr, "dsdgen: the modulator overloaded (%llu clamps); lower the level\n",
                     static_cast<unsigned long long>(stream.clampCount));
        return 3;
    }
    return 0;
}
