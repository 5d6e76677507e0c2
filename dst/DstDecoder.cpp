// DST frame decoder: header parse (segmentation, mapping, filters,
// probability tables); the arithmetic-coded bits follow in dst/DstBitLoop.cpp.
#include "dst/DstDecoder.h"

#include "dst/DstBitLoop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kMsgNoMemory[] = "ERROR: not enough memory available!\n\n";
const char kMsgTableType[] = "ERROR: Illegal table type\n";
const char kMsgNegativeBits[] = "\nERROR: a negative number of bits allocated\n";

constexpr uint8_t kSilence = 0x55;

// Smallest y >= 0 with 2^y > x (0 for x <= 0).
int32_t BitsFor(int64_t x) {
    int32_t y = 0;
    while (x > 0) {
        ++y;
        x >>= 1;
    }
    return y;
}

// Reads k bits (0..32), first bit most significant. False when the read
// needs bits beyond the frame or k is negative.
bool GetBits(DstBitReader& br, int32_t k, uint32_t& value) {
    if (k < 0) {
        std::fputs(kMsgNegativeBits, stderr);
        return false;
    }
    value = 0;
    if (k == 0) return true;
    if (k > 32 || br.position + k > br.totalBits) return false;
    uint64_t v = 0;
    int64_t pos = br.position;
    int32_t left = k;
    // Whole bytes where aligned, single bits otherwise.
    while (left > 0) {
        const int32_t bitInByte = static_cast<int32_t>(pos & 7);
        const int32_t avail = 8 - bitInByte;
        const int32_t take = left < avail ? left : avail;
        const uint32_t byte = br.data[pos >> 3];
        const uint32_t bits = (byte >> (avail - take)) & ((1u << take) - 1);
        v = (v << take) | bits;
        pos += take;
        left -= take;
    }
    br.position = pos;
    value = static_cast<uint32_t>(v);
    return true;
}

bool GetSigned(DstBitReader& br, int32_t k, int32_t& value) {
    uint32_t u;
    if (!GetBits(br, k, u)) return false;
    value = static_cast<int32_t>(u);
    if (k > 0 && k < 32 && (u >> (k - 1)) & 1) value -= static_cast<int32_t>(1u << k);
    return true;
}

// A Rice-coded value can only be useful while it is small; anything larger is
// out of range for every table, which the caller reports.
constexpr int64_t kRiceLimit = 1 << 16;

// Rice code with parameter m. Returns 0, kDstErrReadPastEnd, or
// `rangeError` when the value is too large to be valid.
int32_t GetRice(DstBitReader& br, int32_t m, int32_t rangeError, int32_t& value) {
    int64_t q = 0;
    for (;;) {
        uint32_t b;
        if (!GetBits(br, 1, b)) return kDstErrReadPastEnd;
        if (b) break;
        if (++q > kRiceLimit) return rangeError;
    }
    uint32_t r;
    if (!GetBits(br, m, r)) return kDstErrReadPastEnd;
    int64_t v = (q << m) + r;
    if (v != 0) {
        uint32_t sign;
        if (!GetBits(br, 1, sign)) return kDstErrReadPastEnd;
        if (sign) v = -v;
    }
    value = static_cast<int32_t>(v);
    return kDstOk;
}

int32_t Predict(int64_t x) {
    return x >= 0 ? static_cast<int32_t>(-((x + 4) / 8)) : static_cast<int32_t>((3 - x) / 8);
}

// Reads one segmentation with at most S segments of at least L bits.
int32_t ReadSegmentation(DstFrameDecoder* s, DstBitReader& br, DstSegmentation& seg, int32_t S, int32_t L,
                         int32_t& sameForAll) {
    uint32_t b;
    if (!GetBits(br, 1, b)) return kDstErrReadPastEnd;
    sameForAll = static_cast<int32_t>(b);
    const int64_t F = s->bytesPerChannel;
    const int64_t limit = F - L / 8;
    bool haveResolution = false;
    int64_t res = 1;
    const int32_t readChannels = sameForAll ? 1 : s->channels;
    for (int32_t c = 0; c < readChannels; ++c) {
        int64_t M = limit;
        int64_t D = 0;
        int32_t count = 0;
        for (;;) {
            if (!GetBits(br, 1, b)) return kDstErrReadPastEnd;
            if (b) break;
            if (count >= S - 1) return kDstErrTooManySegments;
            if (!haveResolution) {
                if (limit < 1) return kDstErrBadResolution;
                uint32_t r;
                if (!GetBits(br, BitsFor(limit), r)) return kDstErrReadPastEnd;
                if (r < 1 || r > limit) return kDstErrBadResolution;
                res = r;
                haveResolution = true;
            }
            uint32_t len;
            if (!GetBits(br, BitsFor(M / res), len)) return kDstErrReadPastEnd;
            const int64_t B = res * 8 * static_cast<int64_t>(len);
            if (B < L || B > 8 * F - D - L) return kDstErrBadSegmentLength;
            seg.segmentLength[c][count++] = static_cast<int32_t>(len);
            M -= res * len;
            D += B;
        }
        seg.segmentLength[c][count] = 0;
        seg.segmentCount[c] = count + 1;
    }
    if (sameForAll) {
        for (int32_t c = 1; c < s->channels; ++c) {
            seg.segmentCount[c] = seg.segmentCount[0];
            std::memcpy(seg.segmentLength[c], seg.segmentLength[0], sizeof(seg.segmentLength[0]));
        }
    }
    seg.resolution = static_cast<int32_t>(res);
    return kDstOk;
}

int32_t ReadTableNumber(DstBitReader& br, int32_t& T, int32_t& number) {
    uint32_t v;
    if (!GetBits(br, BitsFor(T), v)) return kDstErrReadPastEnd;
    if (static_cast<int64_t>(v) > T) return kDstErrTableNumberSkips;
    if (static_cast<int32_t>(v) == T) ++T;
    number = static_cast<int32_t>(v);
    return kDstOk;
}

// Reads the table numbers of every segment; `count` receives the table count.
int32_t ReadMapping(DstFrameDecoder* s, DstBitReader& br, DstSegmentation& seg, int32_t maxTables,
                    int32_t& sameForAll, int32_t& count) {
    seg.tableNumber[0][0] = 0;
    int32_t T = 1;
    uint32_t b;
    if (!GetBits(br, 1, b)) return kDstErrReadPastEnd;
    sameForAll = static_cast<int32_t>(b);
    if (sameForAll) {
        for (int32_t sg = 1; sg < seg.segmentCount[0]; ++sg) {
            if (int32_t rc = ReadTableNumber(br, T, seg.tableNumber[0][sg])) return rc;
        }
        for (int32_t c = 1; c < s->channels; ++c) {
            if (seg.segmentCount[c] != seg.segmentCount[0]) return kDstErrSameMappingCounts;
            std::memcpy(seg.tableNumber[c], seg.tableNumber[0], sizeof(seg.tableNumber[0]));
        }
    } else {
        for (int32_t c = 0; c < s->channels; ++c) {
            for (int32_t sg = 0; sg < seg.segmentCount[c]; ++sg) {
                if (c == 0 && sg == 0) continue;
                if (int32_t rc = ReadTableNumber(br, T, seg.tableNumber[c][sg])) return rc;
            }
        }
    }
    if (T > maxTables) return kDstErrTooManyTables;
    count = T;
    return kDstOk;
}

// Reads `length` values of a coded table (filter coefficients or
// probability entries) into v.
int32_t ReadCodedValues(DstBitReader& br, DstCodedTableParams& params, int32_t table, int32_t length,
                        int32_t plainBits, int32_t plainOffset, int32_t lo, int32_t hi, int32_t methodError,
                        int32_t rangeError, int32_t* v) {
    uint32_t u;
    if (!GetBits(br, 2, u)) return kDstErrReadPastEnd;
    const int32_t method = static_cast<int32_t>(u);
    // Method 3 has no parameters: the frame cannot be decoded.
    if (method >= kDstMethods) return methodError;
    const int32_t K = params.methodOrder[method];
    if (K >= length) return methodError;
    params.coded[table] = 1;
    params.method[table] = method;
    for (int32_t i = 0; i < K; ++i) {
        if (plainOffset) {
            if (!GetBits(br, plainBits, u)) return kDstErrReadPastEnd;
            v[i] = static_cast<int32_t>(u) + plainOffset;
        } else {
            if (!GetSigned(br, plainBits, v[i])) return kDstErrReadPastEnd;
        }
    }
    if (!GetBits(br, 3, u)) return kDstErrReadPastEnd;
    const int32_t m = static_cast<int32_t>(u);
    params.riceParam[table * kDstMethods + method] = m;
    const int32_t* a = params.methodCoef[method];
    for (int32_t i = K; i < length; ++i) {
        int64_t x = 0;
        for (int32_t k = 0; k < K; ++k) x += static_cast<int64_t>(a[k]) * v[i - 1 - k];
        int32_t r;
        if (int32_t rc = GetRice(br, m, rangeError, r)) return rc;
        const int64_t value = static_cast<int64_t>(r) + Predict(x);
        if (value < lo || value > hi) return rangeError;
        v[i] = static_cast<int32_t>(value);
    }
    return kDstOk;
}

int32_t ReadFilters(DstFrameDecoder* s, DstBitReader& br) {
    DstCodedTableParams& params = s->filterParams;
    for (int32_t f = 0; f < s->filterCount; ++f) {
        uint32_t u;
        if (!GetBits(br, 7, u)) return kDstErrReadPastEnd;
        const int32_t order = static_cast<int32_t>(u) + 1;
        s->predictionOrder[f] = order;
        if (!GetBits(br, 1, u)) return kDstErrReadPastEnd;
        params.coded[f] = 0;
        params.method[f] = -1;
        int32_t v[kDstMaxOrder];
        if (!u) {
            for (int32_t i = 0; i < order; ++i) {
                if (!GetSigned(br, 9, v[i])) return kDstErrReadPastEnd;
            }
        } else {
            if (int32_t rc = ReadCodedValues(br, params, f, order, 9, 0, -256, 255, kDstErrFilterMethod,
                                             kDstErrFilterCoefRange, v))
                return rc;
        }
        int16_t* coef = s->filterCoef + f * kDstMaxOrder;
        for (int32_t i = 0; i < kDstMaxOrder; ++i) coef[i] = static_cast<int16_t>(i < order ? v[i] : 0);
    }
    for (int32_t c = 0; c < s->channels; ++c) s->halfProbBits[c] = s->predictionOrder[s->filterSeg.tableNumber[c][0]];
    return kDstOk;
}

int32_t ReadProbabilityTables(DstFrameDecoder* s, DstBitReader& br) {
    DstCodedTableParams& params = s->tableParams;
    for (int32_t t = 0; t < s->tableCount; ++t) {
        uint32_t u;
        if (!GetBits(br, 6, u)) return kDstErrReadPastEnd;
        const int32_t length = static_cast<int32_t>(u) + 1;
        s->tableLength[t] = length;
        params.coded[t] = 0;
        params.method[t] = -1;
        int32_t v[kDstMaxTableLength];
        if (length == 1) {
            v[0] = 128;
        } else {
            if (!GetBits(br, 1, u)) return kDstErrReadPastEnd;
            if (!u) {
                for (int32_t i = 0; i < length; ++i) {
                    if (!GetBits(br, 7, u)) return kDstErrReadPastEnd;
                    v[i] = static_cast<int32_t>(u) + 1;
                }
            } else {
                if (int32_t rc = ReadCodedValues(br, params, t, length, 7, 1, 1, 128, kDstErrTableMethod,
                                                 kDstErrTableEntryRange, v))
                    return rc;
            }
        }
        int32_t* table = s->probTables + t * kDstMaxTableLength;
        for (int32_t i = 0; i < kDstMaxTableLength; ++i) table[i] = i < length ? v[i] : v[length - 1];
    }
    return kDstOk;
}

void FillSilence(const DstFrameDecoder* s, uint8_t* output) {
    if (output && s->bytesPerFrame > 0) std::memset(output, kSilence, static_cast<size_t>(s->bytesPerFrame));
}

void InitCodedParams(DstCodedTableParams& p, int32_t kind) {
    p.tableKind = kind;
    p.methodOrder[0] = 1;
    p.methodOrder[1] = 2;
    p.methodOrder[2] = 3;
    p.methodCoef[0][0] = -8;
    p.methodCoef[1][0] = -16;
    p.methodCoef[1][1] = 8;
    if (kind == 0) {
        p.methodCoef[2][0] = -9;
        p.methodCoef[2][1] = -5;
        p.methodCoef[2][2] = 6;
    } else {
        p.methodCoef[2][0] = -24;
        p.methodCoef[2][1] = 24;
        p.methodCoef[2][2] = -8;
    }
}

int32_t ParseAndDecode(DstFrameDecoder* s, const uint8_t* input, size_t inputSize, uint8_t* output) {
    DstBitReader& br = s->reader;
    br.data = input;
    br.size = static_cast<int64_t>(inputSize);
    br.position = 0;
    br.totalBits = 8 * br.size;
    s->frameBytes = br.size;
    s->frameBits = br.totalBits;

    uint32_t u;
    if (!GetBits(br, 1, u)) return kDstErrReadPastEnd;
    s->dstCoded = static_cast<int32_t>(u);
    if (!s->dstCoded) {
        if (!GetBits(br, 1, u)) return kDstErrReadPastEnd;
        if (!GetBits(br, 6, u)) return kDstErrReadPastEnd;
        if (u != 0) return kDstErrStuffingBits;
        const size_t want = static_cast<size_t>(s->bytesPerFrame);
        const size_t have = inputSize - 1 < want ? inputSize - 1 : want;
        std::memcpy(output, input + 1, have);
        std::memset(output + have, 0, want - have);
        return kDstOk;
    }

    // Segmentation.
    if (!GetBits(br, 1, u)) return kDstErrReadPastEnd;
    s->tablesUseFilterSegmentation = static_cast<int32_t>(u);
    if (int32_t rc = ReadSegmentation(s, br, s->filterSeg, kDstMaxFilterSegments, kDstMinFilterSegmentBits,
                                      s->filterSegSameForAll))
        return rc;
    if (!s->tablesUseFilterSegmentation) {
        if (int32_t rc = ReadSegmentation(s, br, s->tableSeg, kDstMaxTableSegments, kDstMinTableSegmentBits,
                                          s->tableSegSameForAll))
            return rc;
    } else {
        DstSegmentation& t = s->tableSeg;
        const DstSegmentation& f = s->filterSeg;
        t.resolution = f.resolution;
        s->tableSegSameForAll = 1;
        for (int32_t c = 0; c < s->channels; ++c) {
            t.segmentCount[c] = f.segmentCount[c];
            for (int32_t sg = 0; sg < f.segmentCount[c]; ++sg) {
                const int32_t len = f.segmentLength[c][sg];
                if (len != 0 && static_cast<int64_t>(f.resolution) * 8 * len < kDstMinTableSegmentBits)
                    return kDstErrBadSegmentLength;
                t.segmentLength[c][sg] = len;
                if (len != f.segmentLength[0][sg]) s->tableSegSameForAll = 0;
            }
            if (f.segmentCount[c] != f.segmentCount[0]) s->tableSegSameForAll = 0;
        }
    }

    // Mapping.
    if (!GetBits(br, 1, u)) return kDstErrReadPastEnd;
    s->tablesUseFilterMapping = static_cast<int32_t>(u);
    if (int32_t rc = ReadMapping(s, br, s->filterSeg, s->maxFilters, s->filterMapSameForAll, s->filterCount))
        return rc;
    if (s->tablesUseFilterMapping) {
        DstSegmentation& t = s->tableSeg;
        const DstSegmentation& f = s->filterSeg;
        s->tableMapSameForAll = 1;
        for (int32_t c = 0; c < s->channels; ++c) {
            if (t.segmentCount[c] != f.segmentCount[c]) return kDstErrCopiedMappingCounts;
            for (int32_t sg = 0; sg < f.segmentCount[c]; ++sg) {
                t.tableNumber[c][sg] = f.tableNumber[c][sg];
                if (sg >= f.segmentCount[0] || f.tableNumber[c][sg] != f.tableNumber[0][sg]) s->tableMapSameForAll = 0;
            }
        }
        if (s->filterCount > s->maxTables) return kDstErrTooManyTables;
        s->tableCount = s->filterCount;
    } else {
        if (int32_t rc = ReadMapping(s, br, s->tableSeg, s->maxTables, s->tableMapSameForAll, s->tableCount))
            return rc;
    }
    for (int32_t c = 0; c < s->channels; ++c) {
        if (!GetBits(br, 1, u)) return kDstErrReadPastEnd;
        s->halfProb[c] = static_cast<int32_t>(u);
    }

    if (int32_t rc = ReadFilters(s, br)) return rc;
    if (int32_t rc = ReadProbabilityTables(s, br)) return rc;

    s->arithStart = br.position;
    s->arithBits = br.totalBits - br.position;
    if (s->arithBits > 0 && ((input[s->arithStart >> 3] >> (7 - (s->arithStart & 7))) & 1))
        return kDstErrFirstArithBit;

    DstBuildFilterTables(s);
    return DstDecodeBits(s, input, output);
}

}  // namespace

int32_t DstBytesPerChannel(int32_t sampleRate) {
    if (sampleRate < 44100) return 0;
    return static_cast<int32_t>(static_cast<int64_t>(sampleRate / 44100) * 588 / 8);
}

int32_t Init(DstFrameDecoder* s, int32_t channels, int32_t sampleRate) {
    if (!s) return 1;
    Release(s);
    std::memset(static_cast<void*>(s), 0, sizeof(*s));
    const int32_t F = DstBytesPerChannel(sampleRate);
    if (channels < 1 || channels > kDstMaxChannels || F < 1 || F > kDstMaxBytesPerChannel) return 1;
    s->channels = channels;
    s->bytesPerChannel = F;
    s->bytesPerFrame = F * channels;
    s->bitsPerFrame = 8 * s->bytesPerFrame;
    s->bitsPerChannel = 8 * F;
    s->maxFilters = s->maxTables = 2 * channels;
    s->filterParams.tableKind = 0;
    s->tableParams.tableKind = 1;

    s->filterCoef = static_cast<int16_t*>(std::calloc(static_cast<size_t>(s->maxFilters) * kDstMaxOrder, sizeof(int16_t)));
    s->filterLut = static_cast<int16_t*>(
        std::calloc(static_cast<size_t>(s->maxFilters) * kDstFilterLutStride, sizeof(int16_t)));
    s->probTables = static_cast<int32_t*>(
        std::calloc(static_cast<size_t>(s->maxTables) * kDstMaxTableLength, sizeof(int32_t)));
    s->probLut =
        static_cast<uint8_t*>(std::calloc(static_cast<size_t>(s->maxTables) * kDstProbLutSize, sizeof(uint8_t)));
    DstCodedTableParams* params[2] = {&s->filterParams, &s->tableParams};
    s->history = static_cast<uint8_t*>(
        std::calloc(static_cast<size_t>(channels) * (kDstFilterGroups + static_cast<size_t>(F)), sizeof(uint8_t)));
    bool ok = s->filterCoef && s->filterLut && s->probTables && s->probLut && s->history;
    for (DstCodedTableParams* p : params) {
        p->coded = static_cast<int32_t*>(std::calloc(static_cast<size_t>(s->maxTables), sizeof(int32_t)));
        p->method = static_cast<int32_t*>(std::calloc(static_cast<size_t>(s->maxTables), sizeof(int32_t)));
        p->riceParam =
            static_cast<int32_t*>(std::calloc(static_cast<size_t>(s->maxTables) * kDstMethods, sizeof(int32_t)));
        ok = ok && p->coded && p->method && p->riceParam;
    }
    if (!ok) {
        std::fputs(kMsgNoMemory, stderr);
        return 1;
    }
    for (DstCodedTableParams* p : params) {
        if (p->tableKind != 0 && p->tableKind != 1) {
            std::fputs(kMsgTableType, stderr);
            return 1;
        }
        InitCodedParams(*p, p->tableKind);
    }
    s->ready = 1;
    return 0;
}

int32_t DecodeFrame(DstFrameDecoder* s, const uint8_t* input, size_t inputSize, uint8_t* output) {
    if (!s) return kDstErrReadPastEnd;
    if (!output) return kDstErrReadPastEnd;
    if (!s->ready) {
        FillSilence(s, output);
        return kDstErrReadPastEnd;
    }
    if (!input) inputSize = 0;
    // Frame sizes beyond what 64-bit bit positions can count are refused.
    if (inputSize > (static_cast<size_t>(1) << 60)) {
        FillSilence(s, output);
        return kDstErrReadPastEnd;
    }
    const int32_t rc = ParseAndDecode(s, input, inputSize, output);
    if (rc != kDstOk) FillSilence(s, output);
    return rc;
}

void Release(DstFrameDecoder* s) {
    if (!s) return;
    std::free(s->filterCoef);
    std::free(s->filterLut);
    std::free(s->probTables);
    std::free(s->probLut);
    std::free(s->history);
    DstCodedTableParams* params[2] = {&s->filterParams, &s->tableParams};
    for (DstCodedTableParams* p : params) {
        std::free(p->coded);
        std::free(p->method);
        std::free(p->riceParam);
        p->coded = p->method = p->riceParam = nullptr;
    }
    s->filterCoef = nullptr;
    s->filterLut = nullptr;
    s->probTables = nullptr;
    s->probLut = nullptr;
    s->history = nullptr;
    s->ready = 0;
}
