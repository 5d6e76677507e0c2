// dsdhost: a command-line media-player host for the DSD input plug-in. It
// drives the plug-in only through its two exports, as a player would.
// The only file that includes the argument library: its header costs several
// seconds of compile time in every file that includes it.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "host/common/KwHostObject.h"
#include "host/dsdhost/DiscImage.h"
#include "host/dsdhost/InputCheck.h"
#include "host/dsdhost/ConfigCommand.h"
#include "host/dsdhost/OutputFiles.h"
#include "host/dsdhost/OutputTarget.h"
#include "host/dsdhost/PluginHost.h"
#include "host/dsdhost/SettingsCommand.h"
#include "host/dsdhost/TagCommands.h"
#include "support/KwBase64.h"
#include "support/KwDllString.h"
#include "support/KwNumbers.h"
#include "support/KwPlatform.h"

namespace {

// Exit codes: 0 complete, 1 failure (nothing or no usable output), 2 a decode
// that delivered audio but less than the file announces.
constexpr int kExitFailure = 1;
constexpr int kExitIncomplete = 2;

struct Input {
    InputFile file;
    KwPtr<IKwAudioInput> source;
    std::string error;
};

std::string Ask(IKwAudioInput* source, int32_t code, bool* answered = nullptr) {
    KwDllString text;
    const int32_t rc = source->GetInfo(code, &text);
    if (answered) *answered = rc == 0;
    return KwToUtf8(text.Text());
}

int64_t AskInt(IKwAudioInput* source, int32_t code) {
    return std::strtoll(Ask(source, code).c_str(), nullptr, 10);
}

void SetCode(IKwAudioInput* source, int32_t code, const std::string& value) {
    source->SetInfo(code, KwFromUtf8(value).c_str());
}

// What the output format record (information code 30) says, in words.
struct FormatFacts {
    uint16_t tag = 0;
    std::string kind = "unknown";
    bool lsbFirst = false;
};

FormatFacts DescribeFormat(IKwAudioInput* source) {
    FormatFacts facts;
    std::vector<uint8_t> record;
    if (!KwBase64Decode(KwFromUtf8(Ask(source, 30)), record) || record.size() < 40) return facts;
    facts.tag = static_cast<uint16_t>(record[0] | (record[1] << 8));
    // Subtype GUIDs are stored as Data1 (LE u32), Data2, Data3 (LE u16), Data4 bytes.
    const uint32_t data1 = record[24] | (record[25] << 8) | (record[26] << 16) | (uint32_t{record[27]} << 24);
    if (facts.tag == 3) {
        facts.kind = "PCM, 64-bit float";
    } else if (facts.tag == 0xFFFE && data1 == 0x34CF0AEF) {
        facts.kind = "native DSD, least significant bit first";
        facts.lsbFirst = true;
    } else if (facts.tag == 0xFFFE && data1 == 0xB3B3761C) {
        facts.kind = "native DSD, most significant bit first";
    } else if (facts.tag == 0xFFFE && data1 == 0x759FB349) {
        facts.kind = "DSD packed in 64-bit frames (variant A)";
    } else if (facts.tag == 0xFFFE && data1 == 0x274485C3) {
        facts.kind = "DSD packed in 64-bit frames (variant B)";
    }
    return facts;
}

void OpenInput(Input& input, const PluginLibrary& plugin, IKwHost* host, const std::string& path,
               int32_t outputModes, int64_t maxRate) {
    if (const std::string why = input.file.Open(path); !why.empty()) {
        input.error = "cannot open " + path + ": " + why;
        return;
    }
    input.source.reset(plugin.NewInputSource(host));
    if (!input.source) {
        input.error = "the plug-in gave no input source";
        return;
    }
    SetCode(input.source.get(), 31, std::to_string(outputModes));
    if (maxRate > 0) SetCode(input.source.get(), 32, std::to_string(maxRate));
    if (input.source->Open(HostFileName(input.file.PluginName(), input.file.FileName()).c_str()) != 0) {
        input.error = "cannot open " + path + ": " + input.file.ExplainRefusal();
        input.source.reset();
    }
}

int CmdInfo(const PluginLibrary& plugin, IKwHost* host, const std::string& path, int32_t outputModes) {
    Input input;
    OpenInput(input, plugin, host, path, outputModes, 0);
    if (!input.source) {
        fprintf(stderr, "dsdhost: %s\n", input.error.c_str());
        return 1;
    }
    IKwAudioInput* s = input.source.get();
    const FormatFacts facts = DescribeFormat(s);
    bool hasStatus = false;
    const std::string status = Ask(s, 35, &hasStatus);
    const int64_t ms = AskInt(s, 1);
    printf("file:          %s\n", path.c_str());
    printf("plug-in:       %s\n", Ask(s, 2).c_str());
    printf("output format: %s (format tag 0x%04X)\n", facts.kind.c_str(), facts.tag);
    printf("sample rate:   %s Hz\n", Ask(s, 8).c_str());
    printf("channels:      %s\n", Ask(s, 9).c_str());
    printf("bits:          %s\n", Ask(s, 10).c_str());
    printf("bit rate:      %s kbit/s\n", Ask(s, 0).c_str());
    printf("length:        %s samples\n", Ask(s, 12).c_str());
    printf("duration:      %" PRId64 " ms (%" PRId64 ":%02" PRId64 ".%03" PRId64 ")\n", ms, ms / 60000,
           (ms / 1000) % 60, ms % 1000);
    printf("from memory:   %s\n", Ask(s, 34).c_str());
    printf("low-pass:      %s\n", status.empty() ? "(none: DSD output or filter off)" : status.c_str());
    return 0;
}

// Output frames that a complete decode delivers: the announced duration at
// the output rate, for DSF files at most the fmt chunk's sample count (the
// last block's padding is not audio), less what a seek skipped.
uint64_t ExpectedFrames(const HeaderFacts& facts, int64_t durationMs, uint32_t outputRate, double seekMs) {
    double frames = static_cast<double>(std::max<int64_t>(durationMs, 0)) * outputRate / 1000.0;
    if (facts.kind == "DSF" && facts.fault.empty() && facts.sampleRate > 0) {
        const double bytesPerChannel = std::ceil(static_cast<double>(facts.dsfSampleCount) / 8.0);
        frames = std::min(frames, bytesPerChannel * outputRate * 8.0 / facts.sampleRate);
    }
    frames -= seekMs * outputRate / 1000.0;
    return frames > 0 ? static_cast<uint64_t>(frames) : 0;
}

void Progress(double seconds, double total) {
    if (total <= 0) return;
    const double fraction = std::min(1.0, seconds / total);
    const int width = 40;
    const int filled = static_cast<int>(fraction * width);
    fprintf(stderr, "\r[%.*s%*s] %5.1f%%  %.1f / %.1f s", filled, "========================================",
            width - filled, "", fraction * 100.0, seconds, total);
}

int CmdDecode(const PluginLibrary& plugin, IKwHost* host, const std::string& in, const std::string& out,
              const std::string& output, char packedVariant, int64_t maxRate, double seekMs,
              const std::string& pcmFormat) {
    const int32_t modes = output == "native" ? 1 : output == "packed" ? (packedVariant == 'b' ? 4 : 2) : 0;
    Input input;
    OpenInput(input, plugin, host, in, modes, maxRate);
    if (!input.source) {
        fprintf(stderr, "dsdhost: %s\n", input.error.c_str());
        return 1;
    }
    IKwAudioInput* s = input.source.get();
    const FormatFacts facts = DescribeFormat(s);
    if (output != "pcm" && facts.tag == 3)
        fprintf(stderr, "dsdhost: note: the plug-in delivers PCM for this file (the requested form is not offered)\n");

    StreamShape shape;
    shape.channels = static_cast<int>(AskInt(s, 9));
    shape.sampleRate = static_cast<uint32_t>(AskInt(s, 8));
    shape.lsbFirst = facts.lsbFirst;
    const int bits = static_cast<int>(AskInt(s, 10));
    shape.dsdRate = shape.sampleRate * 8;  // native DSD is delivered at one byte per 8 bits
    if (shape.channels < 1 || shape.sampleRate == 0 || bits < 1) {
        fprintf(stderr, "dsdhost: the plug-in reports no usable format for %s\n", in.c_str());
        return 1;
    }

    std::string ext;
    if (const size_t dot = out.find_last_of('.'); dot != std::string::npos) ext = out.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    OutputTarget target;
    if (const std::string why = target.Prepare(out, input.file.FileName(), input.file.Device(), input.file.Inode()); !why.empty()) {
        fprintf(stderr, "dsdhost: %s\n", why.c_str());
        return 1;
    }
    const std::string& path = target.WritePath();
    std::string error;
    std::unique_ptr<OutputSink> sink;
    if (out != "-" && ext == "dff") {
        if (bits != 8 || facts.tag != 0xFFFE) {
            fprintf(stderr, "dsdhost: a .dff output needs native DSD (--output native)\n");
            return 1;
        }
        sink = OpenDsdiffSink(path, shape, error);
    } else if (out != "-" && ext == "wav") {
        if (facts.tag != 3) {
            fprintf(stderr, "dsdhost: a .wav output needs PCM (--output pcm)\n");
            return 1;
        }
        const PcmFormat format = pcmFormat == "f32" ? PcmFormat::F32 : pcmFormat == "s24" ? PcmFormat::S24
                                                                                          : PcmFormat::F64;
        sink = OpenWavSink(path, shape, format, error);
    } else if (out != "-" && ext == "flac") {
        if (facts.tag != 3) {
            fprintf(stderr, "dsdhost: a .flac output needs PCM (--output pcm)\n");
            return 1;
        }
        sink = OpenFlacSink(path, shape, error);
    } else {
        sink = OpenRawSink(path, error);
    }
    if (!sink) {
        fprintf(stderr, "dsdhost: %s\n", error.c_str());
        return 1;
    }

    if (seekMs > 0 && s->SetInfo(3, KwFromUtf8(std::to_string(seekMs)).c_str()) != 0) {
        fprintf(stderr, "dsdhost: the plug-in could not seek to %.3f ms\n", seekMs);
        return 1;
    }

    const bool showProgress = isatty(STDERR_FILENO) != 0;
    const double totalSeconds = static_cast<double>(AskInt(s, 1)) / 1000.0;
    const double bytesPerSecond = static_cast<double>(shape.sampleRate) * shape.channels * bits / 8.0;
    // A generous request: the plug-in fills it with whole DSF block groups
    // (6 channels of 4096 bytes become 196608 bytes of PCM) read in few reader
    // calls, and keeps only a part group aside for the next request. The
    // buffer is not zeroed: the plug-in writes every byte it reports.
    constexpr int32_t kReadSize = 1 << 20;
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadSize]);
    uint64_t delivered = 0;
    int ticks = 0;
    for (;;) {
        const int32_t n = s->Read(buffer.get(), kReadSize);
        if (n <= 0) break;
        if (!sink->Write(buffer.get(), static_cast<size_t>(std::min(n, kReadSize)))) {
            fprintf(stderr, "\ndsdhost: write error on %s\n", out.c_str());
            return 1;
        }
        delivered += static_cast<uint64_t>(n);
        if (showProgress && (++ticks & 63) == 0)
            Progress(seekMs / 1000.0 + static_cast<double>(delivered) / bytesPerSecond, totalSeconds);
    }
    if (showProgress) {
        Progress(totalSeconds, totalSeconds);
        fputc('\n', stderr);
    }
    if (!sink->Finish()) {
        fprintf(stderr, "dsdhost: cannot complete %s\n", out.c_str());
        return 1;
    }
    const uint64_t frameBytes = static_cast<uint64_t>(shape.channels) * static_cast<uint64_t>(bits) / 8;
    const uint64_t frames = frameBytes ? delivered / frameBytes : 0;
    const uint64_t expected = ExpectedFrames(input.file.Facts(), AskInt(s, 1), shape.sampleRate, seekMs);
    if (frames == 0) {
        fprintf(stderr, "dsdhost: %s: no audio delivered (the plug-in announced %" PRId64 " ms)\n", in.c_str(),
                AskInt(s, 1));
        return kExitFailure;
    }
    if (const std::string why = target.Commit(); !why.empty()) {
        fprintf(stderr, "dsdhost: %s\n", why.c_str());
        return kExitFailure;
    }
    // Up to a millisecond of rounding in the announced duration is no loss.
    if (frames + shape.sampleRate / 1000 + 1 < expected) {
        fprintf(stderr,
                "dsdhost: %s: delivered %" PRIu64 " of the %" PRIu64 " samples per channel announced (%.1f%%): "
                "the file is damaged or truncated\n",
                in.c_str(), frames, expected, 100.0 * static_cast<double>(frames) / static_cast<double>(expected));
        return kExitIncomplete;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"dsdhost: plays and inspects DSD files through the DSD input plug-in"};
    app.require_subcommand(1);
    std::string pluginPath;
    app.add_option("--plugin", pluginPath, "plug-in library to load (default: the one beside dsdhost)");

    auto* settings = app.add_subcommand("settings", "read or change the plug-in's settings");
    settings->require_subcommand(1);
    std::string key, value;
    auto* get = settings->add_subcommand("get", "print one setting");
    get->add_option("KEY", key, "setting name")->required()->check(CLI::IsMember(SettingKeys()));
    auto* set = settings->add_subcommand("set", "store one setting");
    set->add_option("KEY", key, "setting name")->required()->check(CLI::IsMember(SettingKeys()));
    set->add_option("VALUE", value, "integer value")->required();
    auto* list = settings->add_subcommand("list", "print all settings");

    auto* info = app.add_subcommand("info", "show what the plug-in reports for a file");
    std::string infoFile, infoOutput = "pcm";
    info->add_option("FILE", infoFile, "DSF, DSDIFF or disc image (path;N selects track N)")->required();
    info->add_option("--output", infoOutput, "form to ask for")->check(CLI::IsMember({"native", "packed", "pcm"}));
    int infoTrack = 0, decodeTrack = 0;
    bool allTracks = false;
    info->add_option("--track", infoTrack, "disc-image track N (same as FILE;N)");

    bool infoJson = false;
    info->add_flag("--json", infoJson, "print properties, tag fields and input facts as one JSON object");

    TagRequest tagRequest;
    auto* tags = app.add_subcommand("tags", "list or edit the ID3v2 tag of a DSF file through the plug-in");
    tags->add_option("FILE", tagRequest.files, "DSF file(s) to list; editing takes one")->required();
    auto* tagSet = tags->add_option("--set", tagRequest.sets, "FIELD=VALUE to store (an empty VALUE removes the field)");
    auto* tagImage = tags->add_option("--image", tagRequest.images,
                                      "FIELD=PATH of an image file to store, e.g. \"Image File=cover.jpg\"");
    tags->add_flag("--remove", tagRequest.remove, "remove the whole tag from the file")->excludes(tagSet)->excludes(tagImage);
    tagRequest.jobs = std::min(KwGetProcessorCount(), 8u);
    tags->add_option("-j,--jobs", tagRequest.jobs, "files read at once when listing (default: one per processor, at most 8)")
        ->check(CLI::Range(1u, 64u));

    auto* config = app.add_subcommand("config", "open the plug-in's configuration window (command 1)");

    auto* decode = app.add_subcommand("decode", "play a file through the plug-in into a file");
    std::string in, out, output = "pcm", variant = "a", pcmFormat = "f64";
    int64_t maxRate = 0;
    double seekMs = 0;
    decode->add_option("--output", output, "native, packed or pcm")->check(CLI::IsMember({"native", "packed", "pcm"}));
    decode->add_option("--packed-variant", variant, "a or b")->check(CLI::IsMember({"a", "b"}));
    decode->add_option("--max-rate", maxRate, "highest DSD rate the host accepts (0: any)");
    decode->add_option("--seek", seekMs, "start position in milliseconds");
    decode->add_option("--pcm-format", pcmFormat, "WAV sample format: f64, f32 or s24")
        ->check(CLI::IsMember({"f64", "f32", "s24"}));
    decode->add_option("--track", decodeTrack, "disc-image track N (same as IN;N)");
    decode->add_flag("--all-tracks", allTracks,
                     "IN is a disc image, OUT a folder: one file per track (.dff native, .flac PCM)");
    decode->add_option("IN", in, "input file")->required();
    decode->add_option("OUT", out, "'-' or .raw: bytes as delivered; .dff: DSDIFF; .wav: PCM WAV; .flac: 24-bit FLAC")
        ->required();
    std::string tracksImage;
    auto* tracks = app.add_subcommand("tracks", "list the tracks of a Super Audio CD image");
    tracks->add_option("IMAGE", tracksImage, "disc image (.iso or .sacd)")->required();

    CLI11_PARSE(app, argc, argv);

    if (tracks->parsed()) return CmdTracks(tracksImage);
    ToolsLibrary tools;
    if (settings->parsed()) {
        const std::string action = get->parsed() ? "get" : set->parsed() ? "set" : list->parsed() ? "list" : "";
        return RunSettingsCommand(tools, action, key, value);
    }

    PluginLibrary plugin(pluginPath);
    if (!plugin.Loaded()) {
        fprintf(stderr, "dsdhost: %s\n", plugin.Error().c_str());
        return 1;
    }
    KwHostObject host;
    if (tags->parsed()) return TagCommands(std::move(tagRequest)).Run(plugin, &host);
    if (info->parsed() && infoJson) {
        TagRequest json;
        json.json = true;
        json.files = {infoFile};
        return TagCommands(std::move(json)).Run(plugin, &host);
    }
    if (config->parsed()) return RunConfigCommand(plugin, &host);
    if (info->parsed()) {
        const int32_t modes = infoOutput == "native" ? 1 : infoOutput == "packed" ? 2 : 0;
        return CmdInfo(plugin, &host, WithTrack(infoFile, infoTrack), modes);
    }
    if (decode->parsed() && allTracks) {
        const std::string ext = output == "native" ? "dff" : output == "pcm" ? "flac" : "raw";
        return DecodeAllTracks(in, out, ext, [&](const std::string& track, const std::string& file) {
            return CmdDecode(plugin, &host, track, file, output, variant[0], maxRate, seekMs, pcmFormat);
        });
    }
    if (decode->parsed())
        return CmdDecode(plugin, &host, WithTrack(in, decodeTrack), out, output, variant[0], maxRate, seekMs,
                         pcmFormat);
    return 0;
}
