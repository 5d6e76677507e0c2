#include "tools/lib/DsdiffWriter.h"

#include "tools/lib/ByteSink.h"

namespace dsdtools {

namespace {

// Starts a chunk: id and a size placeholder. Returns the position of the size.
size_t BeginChunk(ByteSink& out, const char* id) {
    out.Id(id);
    size_t at = out.Size();
    out.U64BE(0);
    return at;
}

// Patches the size of the chunk begun at `sizeAt` and adds the pad byte an odd
// size needs.
void EndChunk(ByteSink& out, size_t sizeAt) {
    const uint64_t size = out.Size() - (sizeAt + 8);
    out.PatchU64BE(sizeAt, size);
    if (size & 1) out.U8(0);
}

void WriteChunk(ByteSink& out, const std::string& id, const std::vector<uint8_t>& body) {
    out.Id(id);
    out.U64BE(body.size());
    out.Append(body);
    if (body.size() & 1) out.U8(0);
}

// FRM8 header, FVER and the PROP chunk. Returns the position of the FRM8 size,
// or SIZE_MAX when the channel ids cannot be made.
size_t WriteHeader(ByteSink& out, uint32_t channels, uint32_t rate, bool dst, const DsdiffOptions& options) {
    std::vector<std::string> ids = options.channelIds.empty() ? DsdiffChannelIds(channels) : options.channelIds;
    if (channels < 1 || ids.size() != channels) return SIZE_MAX;

    size_t form = BeginChunk(out, "FRM8");
    out.Id("DSD ");

    size_t ver = BeginChunk(out, "FVER");
    out.U32BE(kDsdiffVersion);
    EndChunk(out, ver);

    size_t prop = BeginChunk(out, "PROP");
    out.Id("SND ");
    size_t fs = BeginChunk(out, "FS  ");
    out.U32BE(rate);
    EndChunk(out, fs);

    size_t chnl = BeginChunk(out, "CHNL");
    out.U16BE(static_cast<uint16_t>(channels));
    for (const std::string& id : ids) out.Id(id);
    EndChunk(out, chnl);

    // Compression type, then its name as a counted text padded to an even length.
    size_t cmpr = BeginChunk(out, "CMPR");
    const std::string name = dst ? "DST Encoded" : "not compressed";
    out.Id(dst ? "DST " : "DSD ");
    out.U8(static_cast<uint8_t>(name.size()));
    out.Append(reinterpret_cast<const uint8_t*>(name.data()), name.size());
    if ((name.size() + 1) & 1) out.U8(0);
    EndChunk(out, cmpr);

    if (options.writeAbss) {
        size_t abss = BeginChunk(out, "ABSS");
        out.U16BE(options.abssHours);
        out.U8(options.abssMinutes);
        out.U8(options.abssSeconds);
        out.U32BE(options.abssSamples);
        EndChunk(out, abss);
    }
    if (options.loudspeakerConfig >= 0) {
        size_t lsco = BeginChunk(out, "LSCO");
        out.U16BE(static_cast<uint16_t>(options.loudspeakerConfig));
        EndChunk(out, lsco);
    }
    EndChunk(out, prop);
    return form;
}

void FinishForm(ByteSink& out, size_t form, const DsdiffOptions& options) {
    for (const DsdiffChunk& c : options.trailingChunks) WriteChunk(out, c.id, c.body);
    out.PatchU64BE(form, out.Size() - (form + 8));
}

}  // namespace

std::vector<std::string> DsdiffChannelIds(uint32_t channels) {
    switch (channels) {
    case 1: return {"C   "};
    case 2: return {"SLFT", "SRGT"};
    case 3: return {"MLFT", "MRGT", "C   "};
    case 4: return {"MLFT", "MRGT", "LS  ", "RS  "};
    case 5: return {"MLFT", "MRGT", "C   ", "LS  ", "RS  "};
    case 6: return {"MLFT", "MRGT", "C   ", "LFE ", "LS  ", "RS  "};
    default: return {};
    }
}

std::vector<uint8_t> BuildDsdiff(const DsdStream& stream, const DsdiffOptions& options) {
    const uint32_t channels = static_cast<uint32_t>(stream.ChannelCount());
    ByteSink out;
    const size_t bytesPerChannel = stream.BytesPerChannel();
    out.bytes.reserve(256 + bytesPerChannel * channels);
    size_t form = WriteHeader(out, channels, stream.rate, false, options);
    if (form == SIZE_MAX) return {};

    size_t dsd = BeginChunk(out, "DSD ");
    for (size_t i = 0; i < bytesPerChannel; ++i)
        for (uint32_t ch = 0; ch < channels; ++ch) {
            const std::vector<uint8_t>& src = stream.channels[ch];
            out.U8(i < src.size() ? src[i] : 0x69);
        }
    EndChunk(out, dsd);
    FinishForm(out, form, options);
    return std::move(out.bytes);
}

bool WriteDsdiff(const std::string& path, const DsdStream& stream, const DsdiffOptions& options) {
    std::vector<uint8_t> bytes = BuildDsdiff(stream, options);
    return !bytes.empty() && WriteFileBytes(path, bytes);
}

std::vector<uint8_t> BuildDsdiffDst(uint32_t channels, uint32_t rate,
                                    const std::vector<std::vector<uint8_t>>& frames,
                                    const DsdiffOptions& options) {
    ByteSink out;
    size_t form = WriteHeader(out, channels, rate, true, options);
    if (form == SIZE_MAX) return {};

    size_t dst = BeginChunk(out, "DST ");
    size_t frte = BeginChunk(out, "FRTE");
    out.U32BE(static_cast<uint32_t>(frames.size()));
    out.U16BE(options.dstFrameRate);
    EndChunk(out, frte);
    for (size_t i = 0; i < frames.size(); ++i) {
        WriteChunk(out, "DSTF", frames[i]);
        if (i < options.dstCrcs.size() && !options.dstCrcs[i].empty()) WriteChunk(out, "DSTC", options.dstCrcs[i]);
    }
    EndChunk(out, dst);
    FinishForm(out, form, options);
    return std::move(out.bytes);
}

bool WriteDsdiffDst(const std::string& path, uint32_t channels, uint32_t rate,
                    const std::vector<std::vector<uint8_t>>& frames, const DsdiffOptions& options) {
    std::vector<uint8_t> bytes = BuildDsdiffDst(channels, rate, frames, options);
    return !bytes.empty() && WriteFileBytes(path, bytes);
}

}  // namespace dsdtools
