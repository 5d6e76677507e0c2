// Opens arbitrary bytes as a DSDIFF file and reads it in one of the three
// output forms with seeks in between. The last four input bytes steer the run
// (output form, frames per read, reader piece size, seek times, framing); the
// rest is either the whole file or, to reach the sound data more often, the
// body that follows a well-formed header of a plain or a DST-coded file.
// Each run delivers at most a few DST frames' worth of audio (DST frames are
// costly to decode): the frame decoder has a target of its own.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dsdfile/CDSDFile.h"
#include "fuzz/FuzzSupport.h"
#include "tags/KwXMLFilename.h"

namespace {

using fuzz::FuzzReader;

// Output bytes one run may take: one 2-channel DSD64 DST frame as PCM.
constexpr uint64_t kMaxDelivered = 2 * 4704 * 8;
// Longer inputs are passed over: they only hold more DST frames, which the
// reading thread hands to the decoder's workers ahead of what it reads.
constexpr size_t kMaxInput = 12 * 1024;

void PutBe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
    out.insert(out.end(), id, id + 4);
    PutBe(out, body.size(), 8);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1) out.push_back(0);
}

// "FRM8" ... "PROP" (rate, channels, compression), then a sound chunk whose
// body is `payload` (after an "FRTE" chunk for DST).
std::vector<uint8_t> WrapPayload(const std::vector<uint8_t>& payload, bool dst, uint16_t channels, uint32_t rate) {
    std::vector<uint8_t> prop = {'S', 'N', 'D', ' '};
    std::vector<uint8_t> fs, chnl, cmpr;
    PutBe(fs, rate, 4);
    PutBe(chnl, channels, 2);
    for (uint16_t c = 0; c < channels; ++c) chnl.insert(chnl.end(), {'C', ' ', ' ', ' '});
    cmpr = dst ? std::vector<uint8_t>{'D', 'S', 'T', ' ', 0} : std::vector<uint8_t>{'D', 'S', 'D', ' ', 0};
    PutChunk(prop, "FS  ", fs);
    PutChunk(prop, "CHNL", chnl);
    PutChunk(prop, "CMPR", cmpr);

    std::vector<uint8_t> body;
    if (dst) {
        std::vector<uint8_t> frte;
        PutBe(frte, payload.size() / 64 + 1, 4);
        PutBe(frte, 75, 2);
        PutChunk(body, "FRTE", frte);
    }
    body.insert(body.end(), payload.begin(), payload.end());

    std::vector<uint8_t> chunks;
    PutChunk(chunks, "PROP", prop);
    PutChunk(chunks, dst ? "DST " : "DSD ", body);
    std::vector<uint8_t> file = {'F', 'R', 'M', '8'};
    PutBe(file, chunks.size() + 4, 8);
    file.insert(file.end(), {'D', 'S', 'D', ' '});
    file.insert(file.end(), chunks.begin(), chunks.end());
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > kMaxInput) return 0;
    const uint8_t* control = data + size - 4;
    const std::vector<uint8_t> payload(data, data + size - 4);
    const uint32_t frames = 1u + ((control[0] | control[1] << 8) & 0x0FFF);
    const int32_t piece = (control[2] & 0x80) ? 1 + (control[2] & 0x1F) : INT32_MAX;
    // A read, a seek chosen by the input (inside the file or at one of its
    // edges), and a read. Each seek starts DST decoding afresh (new workers),
    // which is what makes DST runs costly.
    const double seekTime = (control[3] & 0xC0) == 0xC0 ? 1e12 : (control[3] & 0xC0) == 0x80 ? -1.0
                                                                                              : 13.4 * (control[3] & 0x7F);
    const double seekTimes[] = {seekTime, 0.0};
    // Framing: 0 the bytes are the file; 1 a plain file around them; 2 a DST file.
    const int framing = (control[2] >> 5) & 3;
    const uint16_t channels = static_cast<uint16_t>(1 + control[1] % (framing == 2 ? 2 : 6));
    // DST-coded payloads keep to DSD64: a DSD128 frame costs twice as much.
    const uint32_t rate = (control[0] & 0x40) && framing != 2 ? 5644800 : 2822400;
    std::vector<uint8_t> bytes =
        framing == 0 || framing == 3 ? payload : WrapPayload(payload, framing == 2, channels, rate);

    KwXMLFilename name(KW_T("fuzz.dff"));
    name.Items().SetString(KW_T("FileType"), KW_T("dff"));
    const uint32_t modes[] = {kOutputNativeDsd, kOutputPackedDsdA, 0};
    {
        const uint32_t mode = modes[(control[1] >> 6) % 3];
        CDSDFile file;
        file.SetAdd6dB(control[2] & 1);
        // One DST worker: the decoding cost stays on the fuzzer's core.
        CDsdOpenOptions options;
        options.dstThreads = 1;
        if (!file.Open(new FuzzReader(bytes, piece), 1, mode, 0, name, options)) return 0;
        // A DST frame of two or more channels costs milliseconds to decode:
        // such files are read in one run of four (the others end at the open).
        static constexpr uint8_t kFrameId[] = {'D', 'S', 'T', 'F'};
        const bool dstFrames = std::search(bytes.begin(), bytes.end(), kFrameId, kFrameId + 4) != bytes.end();
        if (dstFrames && file.SourceFormat().Channels() > 1 && fuzz::InputHash(data, size) % 4 != 0) return 0;
        const CAudioFormat& out = file.OutputFormat();
        const size_t frameBytes = out.BlockAlign() ? out.BlockAlign() : 1;
        // Exactly what the caller asked for, so that any overrun is caught.
        std::vector<uint8_t> buffer(frames * frameBytes);
        const double duration = file.GetDuration();
        if (!(duration >= 0.0)) __builtin_trap();
        uint64_t delivered = 0;
        // Half the runs seek before their first read: a single DST decoder.
        if (control[3] & 1) file.Seek(seekTimes[0]);
        for (double t : seekTimes) {
            if (control[3] & 1) t = 0.0;
            if (delivered < kMaxDelivered) {
                const uint32_t got = file.ReadSamples(buffer.data(), frames);
                if (got > buffer.size() || got % frameBytes != 0) __builtin_trap();
                delivered += got;
            }
            if (t != 0.0) file.Seek(t);
        }
        (void)delivered;
    }
    return 0;
}
