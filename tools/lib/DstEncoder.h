// DST encoder: compresses one frame of DSD (1/75 s, bytes interleaved by
// channel, earliest bit in bit 7) into a standard DST frame that the frame
// decoder (dst/DstDecoder.h) turns back into exactly the same bytes.
//
// Prediction filters are fitted to each segment's +/-1 signal (Levinson on
// its autocorrelation, orders up to 128, quantised to 9-bit coefficients);
// probability tables come from the statistics of the prediction residual.
// The encoder tries several layouts (one filter per channel, filters shared
// by all channels, several segments per channel, separate table
// segmentation), codes filter and table coefficients with the shortest of
// the three prediction methods, and falls back to an uncoded frame when
// coding does not pay. Every choice can be forced for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsdtools {

struct DstEncoderOptions {
    // Filter segments per channel: 0 = automatic, 1..4 = exactly that many.
    int32_t filterSegments = 0;
    // Probability-table segmentation: 0 = automatic, -1 = the filter
    // segmentation (copied), 1..8 = its own segmentation with that many.
    int32_t tableSegments = 0;
    // -1 automatic, 0 = each channel its own filters and tables,
    // 1 = every channel uses the same (mapping same for all channels).
    int32_t sharedMapping = -1;
    // Segment counts differ by channel (channel c gets 1 + c % n of the n
    // requested) and segmentations are written per channel.
    bool perChannelSegmentation = false;
    // -1 automatic, 0 = the table mapping is always written out, 1 = copied
    // from the filter mapping whenever the segment counts allow it.
    int32_t tablesUseFilterMapping = -1;
    // Highest filter order tried; a fixed order when `fixedOrder` is 1..128.
    int32_t maxOrder = 128;
    int32_t fixedOrder = 0;
    // Coefficient coding: -1 = shortest, 0 = always plain, 1 = coded whenever
    // a method applies. `method` -1 picks the shortest method, 0..2 forces one.
    int32_t codedFilters = -1;
    int32_t codedTables = -1;
    int32_t method = -1;
    // Longest probability table (1..64); 1 gives tables of a single entry.
    int32_t maxTableLength = 64;
    // Half-probability flag: -1 when it pays, 0 never, 1 always.
    int32_t halfProb = -1;
    // -1 = uncoded when coding does not pay, 0 = always coded, 1 = always uncoded.
    int32_t uncoded = -1;
};

// What the encoder chose for the last frame.
struct DstFrameStats {
    bool coded = false;
    int32_t filters = 0;
    int32_t tables = 0;
    int32_t filterSegments = 0;  // of channel 0
    int32_t tableSegments = 0;   // of channel 0
    bool tablesUseFilterSegmentation = false;
    bool tablesUseFilterMapping = false;
    bool sharedMapping = false;
    int32_t codedFilters = 0;     // filters with coded coefficients
    int32_t codedTables = 0;      // tables with coded entries
    int32_t methodsUsed = 0;      // bit k set: method k used somewhere
    int32_t halfProbChannels = 0;
    int32_t maxOrder = 0;
    size_t bytes = 0;
};

class DstEncoder {
public:
    DstEncoder(int32_t channels, int32_t sampleRate, const DstEncoderOptions& options = {});

    // False when the channel count or rate is outside what DST frames hold.
    bool Valid() const { return m_bytesPerChannel > 0; }
    int32_t Channels() const { return m_channels; }
    // Input bytes of one frame (F × channels).
    size_t FrameBytes() const { return static_cast<size_t>(m_bytesPerChannel) * m_channels; }

    // Encodes one frame of FrameBytes() bytes.
    std::vector<uint8_t> EncodeFrame(const uint8_t* dsd);
    const DstFrameStats& LastStats() const { return m_stats; }

    const DstEncoderOptions& Options() const { return m_options; }
    void SetOptions(const DstEncoderOptions& options) { m_options = options; }

private:
    int32_t m_channels = 0;
    int32_t m_bytesPerChannel = 0;
    DstEncoderOptions m_options;
    DstFrameStats m_stats;
};

// Encodes a whole interleaved stream (complete frames; a short last frame is
// padded with the 0x69 idle pattern). `frameStats` may be null.
std::vector<std::vector<uint8_t>> DstEncodeStream(const uint8_t* dsd, size_t bytes, int32_t channels,
                                                  int32_t sampleRate, const DstEncoderOptions& options = {},
                                                  std::vector<DstFrameStats>* frameStats = nullptr);

}  // namespace dsdtools
