// dstenc: compresses a DSF or plain DSDIFF file into a DST-compressed DSDIFF
// file. Every frame is decoded again and compared with its input before the
// file is written.
//
//   dstenc [options] IN OUT.dff
//     --segments N         filter segments per channel (1..4; default automatic)
//     --table-segments N   -1 = tables use the filter segmentation, 1..8 = own
//     --shared 0|1         filters and tables shared by all channels or not
//     --per-channel-seg    segment counts differ by channel
//     --table-map 0|1      write the table mapping out / copy the filter mapping
//     --max-order N        highest filter order tried (1..128)
//     --order N            fixed filter order
//     --coded-filters -1|0|1, --coded-tables -1|0|1, --method -1|0|1|2
//     --table-length N     longest probability table (1..64)
//     --half-prob -1|0|1   half-probability flag
//     --uncoded -1|0|1     uncoded frames when coding does not pay / never / always
//     --quiet
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "dst/DstDecoder.h"
#include "tools/lib/DsdSourceReader.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/DstEncoder.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: dstenc [options] IN.dsf|IN.dff OUT.dff (see the source for options)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    dsdtools::DstEncoderOptions o;
    bool quiet = false;
    std::string in, out;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto num = [&](int32_t& v) {
            if (i + 1 >= argc) return false;
            v = std::atoi(argv[++i]);
            return true;
        };
        bool ok = true;
        if (a == "--segments") ok = num(o.filterSegments);
        else if (a == "--table-segments") ok = num(o.tableSegments);
        else if (a == "--shared") ok = num(o.sharedMapping);
        else if (a == "--per-channel-seg") o.perChannelSegmentation = true;
        else if (a == "--table-map") ok = num(o.tablesUseFilterMapping);
        else if (a == "--max-order") ok = num(o.maxOrder);
        else if (a == "--order") ok = num(o.fixedOrder);
        else if (a == "--coded-filters") ok = num(o.codedFilters);
        else if (a == "--coded-tables") ok = num(o.codedTables);
        else if (a == "--method") ok = num(o.method);
        else if (a == "--table-length") ok = num(o.maxTableLength);
        else if (a == "--half-prob") ok = num(o.halfProb);
        else if (a == "--uncoded") ok = num(o.uncoded);
        else if (a == "--quiet") quiet = true;
        else if (!a.empty() && a[0] == '-') ok = false;
        else if (in.empty()) in = a;
        else if (out.empty()) out = a;
        else ok = false;
        if (!ok) return Usage();
    }
    if (in.empty() || out.empty()) return Usage();

    dsdtools::DsdSource src;
    if (!dsdtools::ReadDsdSource(in, src)) {
        std::fprintf(stderr, "dstenc: cannot read %s as DSF or plain DSDIFF\n", in.c_str());
        return 1;
    }
    const int32_t channels = static_cast<int32_t>(src.channels);
    const int32_t rate = static_cast<int32_t>(src.rate);
    dsdtools::DstEncoder encoder(channels, rate, o);
    if (!encoder.Valid()) {
        std::fprintf(stderr, "dstenc: %d channels at %d Hz cannot be DST-coded\n", channels, rate);
        return 1;
    }
    std::vector<dsdtools::DstFrameStats> stats;
    const auto frames = dsdtools::DstEncodeStream(src.interleaved.data(), src.interleaved.size(), channels, rate, o, &stats);

    // Verify every frame against the input (a short last frame was padded with 0x69).
    std::unique_ptr<DstFrameDecoder> dec(new DstFrameDecoder());
    if (Init(dec.get(), channels, rate) != 0) return 1;
    const size_t frameBytes = encoder.FrameBytes();
    std::vector<uint8_t> decoded(frameBytes);
    size_t codedBytes = 0, codedFrames = 0;
    for (size_t f = 0; f < frames.size(); ++f) {
        const int32_t rc = DecodeFrame(dec.get(), frames[f].data(), frames[f].size(), decoded.data());
        const size_t pos = f * frameBytes;
        const size_t n = std::min(frameBytes, src.interleaved.size() - pos);
        if (rc != 0 || std::memcmp(decoded.data(), src.interleaved.data() + pos, n) != 0) {
            std::fprintf(stderr, "dstenc: frame %zu does not decode to its input (result %d)\n", f, rc);
            Release(dec.get());
            return 1;
        }
        codedBytes += frames[f].size();
        codedFrames += stats[f].coded ? 1 : 0;
    }
    Release(dec.get());

    if (!dsdtools::WriteDsdiffDst(out, src.channels, src.rate, frames)) {
        std::fprintf(stderr, "dstenc: cannot write %s\n", out.c_str());
        return 1;
    }
    if (!quiet) {
        const double raw = static_cast<double>(frames.size() * frameBytes);
        std::printf("%zu frames (%zu coded), %zu -> %zu bytes, ratio %.3f\n", frames.size(), codedFrames,
                    static_cast<size_t>(raw), codedBytes, codedBytes ? raw / static_cast<double>(codedBytes) : 0.0);
    }
    return 0;
}
