// dstenc: compresses a DSF or plain DSDIFF file into a DST-compressed DSDIFF
// file. Every frame is decoded again and compared with its input before the
// file is written.
//
//   dstenc [options] IN OUT.dff     (dstenc --help lists the options)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "dst/DstDecoder.h"
#include "tools/lib/DsdSourceReader.h"
#include "tools/lib/DsdiffWriter.h"
#include "tools/lib/DstEncoder.h"

int main(int argc, char** argv) {
    dsdtools::DstEncoderOptions o;
    bool quiet = false;
    std::string in, out;
    CLI::App app{"Compresses a DSF or plain DSDIFF file into a DST-compressed DSDIFF file; every frame is "
                 "decoded again and compared with its input before the file is written."};
    app.add_option("--segments", o.filterSegments, "filter segments per channel (1..4; default automatic)");
    app.add_option("--table-segments", o.tableSegments, "-1: tables use the filter segmentation; 1..8: their own");
    app.add_option("--shared", o.sharedMapping, "filters and tables shared by all channels (1) or not (0)");
    app.add_flag("--per-channel-seg", o.perChannelSegmentation, "segment counts differ by channel");
    app.add_option("--table-map", o.tablesUseFilterMapping, "write the table mapping out (0) / copy the filter mapping (1)");
    app.add_option("--max-order", o.maxOrder, "highest filter order tried (1..128)");
    app.add_option("--order", o.fixedOrder, "fixed filter order");
    app.add_option("--coded-filters", o.codedFilters, "-1 automatic, 0 plain, 1 coded filter coefficients");
    app.add_option("--coded-tables", o.codedTables, "-1 automatic, 0 plain, 1 coded probability tables");
    app.add_option("--method", o.method, "coding method -1 (automatic), 0, 1 or 2");
    app.add_option("--table-length", o.maxTableLength, "longest probability table (1..64)");
    app.add_option("--half-prob", o.halfProb, "half-probability flag (-1 automatic, 0, 1)");
    app.add_option("--uncoded", o.uncoded, "uncoded frames: -1 when coding does not pay, 0 never, 1 always");
    app.add_flag("--quiet", quiet, "print no summary");
    app.add_option("input", in, "input file (.dsf or plain .dff)")->required();
    app.add_option("output", out, "output file (.dff)")->required();
    CLI11_PARSE(app, argc, argv);

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
