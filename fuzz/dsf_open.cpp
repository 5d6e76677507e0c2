// Opens arbitrary bytes as a DSF file and reads it in one of the output forms
// with seeks in between, then rewrites the tag. The last four input bytes steer
// the run (output form, frames per read, reader piece size, seek times); the
// rest is the file.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dsdfile/CDSDFile.h"
#include "fuzz/FuzzSupport.h"
#include "tags/KwXMLFilename.h"

using fuzz::FuzzReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint8_t* control = data + size - 4;
    const std::vector<uint8_t> original(data, data + size - 4);
    const uint32_t frames = 1u + ((control[0] | control[1] << 8) & 0x1FFF);
    const int32_t piece = (control[2] & 0x80) ? 1 + (control[2] & 0x7F) : INT32_MAX;
    const double seekTimes[] = {control[3] * 0.25, -1.0, 0.0, 1e12, control[3] * 13.0};

    KwXMLFilename name(KW_T("fuzz.dsf"));
    name.Items().SetString(KW_T("FileType"), KW_T("dsf"));
    const uint32_t modes[] = {kOutputNativeDsd, kOutputPackedDsdA, kOutputPackedDsdB, 0};
    {
        const uint32_t mode = modes[control[1] >> 6];
        std::vector<uint8_t> bytes = original;
        CDSDFile file;
        file.SetAdd6dB(control[2] & 1);
        if (!file.Open(new FuzzReader(bytes, piece), 1, mode, (control[0] & 1) ? 2822400 : 0, name)) return 0;
        const CAudioFormat& out = file.OutputFormat();
        const size_t frameBytes = out.BlockAlign() ? out.BlockAlign() : 1;
        // Exactly what the caller asked for, so that any overrun is caught.
        std::vector<uint8_t> buffer(frames * frameBytes);
        (void)file.GetDuration();
        for (double t : seekTimes) {
            for (int i = 0; i < 2; ++i) {
                const uint32_t got = file.ReadSamples(buffer.data(), frames);
                if (got > buffer.size()) __builtin_trap();
                if (got == 0) break;
            }
            file.Seek(t);
        }

        // Rewriting the tag never touches the audio.
        const int64_t audioEnd = file.DataStart() + file.DataLength();
        const uint8_t tag[] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 1, 0};
        file.SaveTag(tag, control[1] & 1 ? sizeof(tag) : 0);
        if (bytes.size() < static_cast<size_t>(audioEnd) ||
            !std::equal(original.begin() + 28, original.begin() + audioEnd, bytes.begin() + 28))
            __builtin_trap();
    }
    return 0;
}
