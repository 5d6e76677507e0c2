// DST encoder. The frame layout written here is the one the frame decoder
// parses: coded flag, segmentation, mapping, half-probability flags, filters,
// probability tables, then the arithmetic-coded residual. The arithmetic coder
// is the exact inverse of the decoder's 12-bit one, and every prediction is
// computed the way the decoder computes it (16 byte lookups per bit, a frame
// history that starts at 0xAA), so the decoder reproduces the input bits.
#include "tools/lib/DstEncoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>

#include "dst/DstDecoder.h"

namespace dsdtools {
namespace {

constexpr int32_t kUnits = 8;  // a frame is planned in 8 units; segments are made of whole units

int32_t BitsFor(int64_t x) {
    int32_t y = 0;
    while (x > 0) {
        ++y;
        x >>= 1;
    }
    return y;
}

int32_t PredictValue(int64_t x) {
    return x >= 0 ? static_cast<int32_t>(-((x + 4) / 8)) : static_cast<int32_t>((3 - x) / 8);
}

class BitWriter {
public:
    std::vector<uint8_t> bytes;
    uint64_t bits = 0;

    void PutBit(uint32_t b) {
        if ((bits & 7) == 0) bytes.push_back(0);
        if (b & 1) bytes.back() |= static_cast<uint8_t>(0x80u >> (bits & 7));
        ++bits;
    }
    void Put(uint32_t v, int32_t n) {
        for (int32_t i = n - 1; i >= 0; --i) PutBit((v >> i) & 1);
    }
    void PutRice(int32_t v, int32_t m) {
        const uint32_t a = static_cast<uint32_t>(v < 0 ? -v : v);
        for (uint32_t q = a >> m; q > 0; --q) PutBit(0);
        PutBit(1);
        Put(a & ((1u << m) - 1), m);
        if (v != 0) PutBit(v < 0 ? 1 : 0);
    }
};

int64_t RiceLength(int32_t v, int32_t m) {
    const uint32_t a = static_cast<uint32_t>(v < 0 ? -v : v);
    return static_cast<int64_t>(a >> m) + 1 + m + (v != 0 ? 1 : 0);
}

struct Method {
    int32_t order;
    int32_t coef[3];
};
constexpr Method kFilterMethods[3] = {{1, {-8, 0, 0}}, {2, {-16, 8, 0}}, {3, {-9, -5, 6}}};
constexpr Method kTableMethods[3] = {{1, {-8, 0, 0}}, {2, {-16, 8, 0}}, {3, {-24, 24, -8}}};

struct CodedChoice {
    int32_t method = -1;
    int32_t m = 0;
    int64_t bits = 0;
};

void Residuals(const int32_t* v, int32_t len, const Method& md, int32_t* r) {
    for (int32_t i = md.order; i < len; ++i) {
        int64_t x = 0;
        for (int32_t k = 0; k < md.order; ++k) x += static_cast<int64_t>(md.coef[k]) * v[i - 1 - k];
        r[i] = v[i] - PredictValue(x);
    }
}

// Cheapest coded form of v (method field, K plain values, m, Rice residuals).
CodedChoice BestCoding(const int32_t* v, int32_t len, const Method* methods, int32_t plainBits, int32_t forceMethod) {
    CodedChoice best;
    best.bits = INT64_MAX;
    int32_t r[kDstMaxOrder];
    for (int32_t k = 0; k < kDstMethods; ++k) {
        if (forceMethod >= 0 && k != forceMethod) continue;
        const Method& md = methods[k];
        if (md.order >= len) continue;
        Residuals(v, len, md, r);
        for (int32_t m = 0; m < 8; ++m) {
            int64_t bits = 2 + static_cast<int64_t>(md.order) * plainBits + 3;
            for (int32_t i = md.order; i < len; ++i) bits += RiceLength(r[i], m);
            if (bits < best.bits) {
                best.bits = bits;
                best.method = k;
                best.m = m;
            }
        }
    }
    return best;
}

void WriteCoded(BitWriter& w, const int32_t* v, int32_t len, const Method* methods, int32_t plainBits,
                int32_t plainOffset, const CodedChoice& choice) {
    const Method& md = methods[choice.method];
    w.Put(static_cast<uint32_t>(choice.method), 2);
    for (int32_t i = 0; i < md.order; ++i)
        w.Put(static_cast<uint32_t>(v[i] - plainOffset) & ((1u << plainBits) - 1), plainBits);
    w.Put(static_cast<uint32_t>(choice.m), 3);
    int32_t r[kDstMaxOrder];
    Residuals(v, len, md, r);
    for (int32_t i = md.order; i < len; ++i) w.PutRice(r[i], choice.m);
}

struct Filter {
    int32_t order = 1;
    int32_t coef[kDstMaxOrder] = {};
};

struct Table {
    int32_t length = 1;
    int32_t entry[kDstMaxTableLength] = {};
};

// 16 × 256 lookup of one filter, as the decoder builds it.
void BuildLut(const Filter& f, int16_t* lut) {
    for (int32_t g = 0; g < kDstFilterGroups; ++g) {
        int16_t* e = lut + g * 256;
        int32_t k = std::clamp(f.order - 8 * g, 0, 8);
        int32_t base = 0;
        for (int32_t j = 0; j < k; ++j) base -= f.coef[8 * g + j];
        e[0] = static_cast<int16_t>(base);
        for (int32_t v = 1; v < 256; ++v) {
            const int32_t j = std::countr_zero(static_cast<unsigned>(v));
            e[v] = static_cast<int16_t>(e[v & (v - 1)] + (j < k ? 2 * f.coef[8 * g + j] : 0));
        }
    }
}

inline int16_t PredictBit(const int16_t* t, uint64_t l, uint64_t h) {
    int32_t P = 0;
    for (int32_t g = 0; g < 8; ++g) P += t[g * 256 + ((l >> (8 * g)) & 0xFF)];
    for (int32_t g = 0; g < 8; ++g) P += t[(8 + g) * 256 + ((h >> (8 * g)) & 0xFF)];
    return static_cast<int16_t>(P);
}

inline int32_t TableIndex(int16_t P) {
    const int32_t a = P < 0 ? -static_cast<int32_t>(P) : P;
    return std::min(a >> 3, kDstMaxTableLength - 1);
}

// Bits of -log2 for the coder's probabilities: cost[p][r].
struct CostTable {
    double bits[129][2];
    CostTable() {
        for (int32_t p = 1; p <= 128; ++p) {
            bits[p][0] = -std::log2(p / 256.0);
            bits[p][1] = -std::log2(1.0 - p / 256.0);
        }
        bits[0][0] = bits[0][1] = 0;
    }
};
const CostTable& Costs() {
    static const CostTable table;
    return table;
}

// Counts per table index: [j][0] residual 0 (prediction wrong), [j][1] right.
using Histogram = std::array<std::array<uint32_t, 2>, kDstMaxTableLength>;

// Best table for a histogram; `bitsOut` receives data plus plain table bits.
Table FitTable(const Histogram& hist, int32_t maxLength, double* bitsOut) {
    const CostTable& cost = Costs();
    Table best;
    double bestBits = 1e300;
    maxLength = std::clamp(maxLength, 1, kDstMaxTableLength);
    for (int32_t L = 1; L <= maxLength; ++L) {
        Table t;
        t.length = L;
        double bits = 6 + (L > 1 ? 1 + 7.0 * L : 0);
        int32_t prev = 128;
        for (int32_t j = 0; j < L; ++j) {
            uint64_t n0 = 0, n1 = 0;
            for (int32_t i = j; i < (j == L - 1 ? kDstMaxTableLength : j + 1); ++i) {
                n0 += hist[i][0];
                n1 += hist[i][1];
            }
            int32_t p = prev;
            if (L == 1) {
                p = 128;
            } else if (n0 + n1 > 0) {
                p = static_cast<int32_t>(std::lround(256.0 * static_cast<double>(n0) / static_cast<double>(n0 + n1)));
                p = std::clamp(p, 1, 128);
            }
            t.entry[j] = p;
            prev = p;
            bits += static_cast<double>(n0) * cost.bits[p][0] + static_cast<double>(n1) * cost.bits[p][1];
        }
        if (bits < bestBits) {
            bestBits = bits;
            best = t;
        }
    }
    if (bitsOut) *bitsOut = bestBits;
    return best;
}

// One channel's bits (0/1 per byte) and its bits packed for autocorrelation,
// preceded by the 128 history bits every frame starts with.
struct ChannelData {
    std::vector<uint8_t> bit;
    std::vector<uint64_t> packed;  // bit p (p = n + 128) in word p / 64 at bit p % 64
};

constexpr int32_t kLags = kDstMaxOrder + 1;
using Autocorrelation = std::array<double, kLags>;

// The plan of one frame: segmentations, mappings, filters, tables.
struct Plan {
    int32_t fCount[kDstMaxChannels] = {};
    int32_t fBound[kDstMaxChannels][kDstMaxSegments + 1] = {};  // unit boundaries
    int32_t tCount[kDstMaxChannels] = {};
    int32_t tBound[kDstMaxChannels][kDstMaxSegments + 1] = {};
    bool fSegSame = true;
    bool tSegSame = true;
    bool tablesUseFilterSeg = true;
    int32_t fNum[kDstMaxChannels][kDstMaxSegments] = {};
    int32_t tNum[kDstMaxChannels][kDstMaxSegments] = {};
    bool fMapSame = false;
    bool tMapSame = false;
    bool tablesUseFilterMap = true;
    int32_t nFilters = 0;
    int32_t nTables = 0;
    std::vector<Filter> filters;
    std::vector<Table> tables;
    bool halfProb[kDstMaxChannels] = {};
    double estimatedBits = 0;
};

class FrameCoder {
public:
    FrameCoder(int32_t channels, int32_t F, const DstEncoderOptions& opt, const uint8_t* dsd)
        : m_ch(channels), m_F(F), m_N(8 * F), m_opt(opt) {
        m_unitBytes = (F / kUnits) & ~7;
        for (int32_t u = 0; u <= kUnits; ++u) m_unitStart[u] = u < kUnits ? u * m_unitBytes * 8 : m_N;
        m_data.resize(static_cast<size_t>(channels));
        for (int32_t c = 0; c < channels; ++c) {
            ChannelData& cd = m_data[static_cast<size_t>(c)];
            cd.bit.resize(static_cast<size_t>(m_N));
            cd.packed.assign(static_cast<size_t>((m_N + 128 + 63) / 64 + 1), 0);
            // History bit k steps before the frame start is 1 for even k (0xAA bytes).
            for (int32_t k = 1; k <= 128; ++k)
                if ((k & 1) == 0) cd.packed[static_cast<size_t>((128 - k) >> 6)] |= 1ull << ((128 - k) & 63);
            for (int32_t n = 0; n < m_N; ++n) {
                const uint8_t byte = dsd[static_cast<size_t>(n >> 3) * channels + c];
                const uint8_t b = (byte >> (7 - (n & 7))) & 1;
                cd.bit[static_cast<size_t>(n)] = b;
                if (b) cd.packed[static_cast<size_t>((n + 128) >> 6)] |= 1ull << ((n + 128) & 63);
            }
            for (int32_t u = 0; u < kUnits; ++u) AutocorrelateUnit(c, u);
        }
        m_P.resize(static_cast<size_t>(channels) * m_N);
    }

    std::vector<uint8_t> Encode(DstFrameStats& stats);

private:
    void AutocorrelateUnit(int32_t c, int32_t u);
    Filter FitFilter(uint64_t unitMask);
    double EvaluateFilter(const Filter& f, uint64_t unitMask, int32_t maxTableLength);
    bool MakePlan(Plan& plan, int32_t fSegs, int32_t tSegs, bool shared, bool perChannel);
    void FinishPlan(Plan& plan);
    void WriteHeader(const Plan& plan, BitWriter& w, DstFrameStats* stats);
    void WriteSegmentation(BitWriter& w, const int32_t* count, const int32_t (*bound)[kDstMaxSegments + 1],
                           bool same, int32_t L);
    void WriteMapping(BitWriter& w, const int32_t* count, const int32_t (*num)[kDstMaxSegments], bool same);
    int32_t SegmentStartBit(int32_t unit) const { return m_unitStart[unit]; }

    int32_t m_ch;
    int32_t m_F;
    int32_t m_N;
    DstEncoderOptions m_opt;
    int32_t m_unitBytes;
    int32_t m_unitStart[kUnits + 1];
    std::vector<ChannelData> m_data;
    Autocorrelation m_R[kDstMaxChannels][kUnits] = {};
    std::map<uint64_t, Filter> m_fitCache;
    std::vector<int16_t> m_P;  // prediction per channel and bit for the plan being finished
};

void FrameCoder::AutocorrelateUnit(int32_t c, int32_t u) {
    const std::vector<uint64_t>& W = m_data[static_cast<size_t>(c)].packed;
    const int32_t s = m_unitStart[u] + 128;
    const int32_t e = m_unitStart[u + 1] + 128;
    // Units start on 64-bit boundaries; the last one may end inside a word.
    for (int32_t k = 0; k < kLags; ++k) {
        const int32_t a = k >> 6;
        const int32_t b = k & 63;
        int64_t differ = 0;
        for (int32_t i = s >> 6; i < (e + 63) >> 6; ++i) {
            uint64_t y = W[static_cast<size_t>(i - a)] << b;
            if (b) y |= W[static_cast<size_t>(i - a - 1)] >> (64 - b);
            uint64_t x = W[static_cast<size_t>(i)] ^ y;
            const int32_t wordEnd = (i + 1) * 64;
            if (wordEnd > e) x &= (1ull << (64 - (wordEnd - e))) - 1;
            differ += std::popcount(x);
        }
        m_R[c][u][static_cast<size_t>(k)] = static_cast<double>(e - s) - 2.0 * static_cast<double>(differ);
    }
}

// Bits of the filter's coefficients in their cheapest allowed form.
int64_t FilterCodingBits(const Filter& f, const DstEncoderOptions& opt, CodedChoice* choice) {
    const int64_t plain = 8 + 9LL * f.order;
    CodedChoice c;
    if (opt.codedFilters != 0) c = BestCoding(f.coef, f.order, kFilterMethods, 9, opt.method);
    const bool useCoded = c.method >= 0 && (opt.codedFilters == 1 || 8 + c.bits < plain);
    if (choice) *choice = useCoded ? c : CodedChoice{};
    return useCoded ? 8 + c.bits : plain;
}

int64_t TableCodingBits(const Table& t, const DstEncoderOptions& opt, CodedChoice* choice) {
    if (choice) *choice = CodedChoice{};
    if (t.length == 1) return 6;
    const int64_t plain = 7 + 7LL * t.length;
    CodedChoice c;
    if (opt.codedTables != 0) c = BestCoding(t.entry, t.length, kTableMethods, 7, opt.method);
    const bool useCoded = c.method >= 0 && (opt.codedTables == 1 || 7 + c.bits < plain);
    if (useCoded && choice) *choice = c;
    return useCoded ? 7 + c.bits : plain;
}

// Histogram of one filter over the bits of the units in unitMask (bit c*8+u).
double FrameCoder::EvaluateFilter(const Filter& f, uint64_t unitMask, int32_t maxTableLength) {
    std::vector<int16_t> lut(kDstFilterGroups * 256);
    BuildLut(f, lut.data());
    Histogram hist{};
    for (int32_t c = 0; c < m_ch; ++c) {
        const uint8_t* bits = m_data[static_cast<size_t>(c)].bit.data();
        for (int32_t u = 0; u < kUnits; ++u) {
            if (!((unitMask >> (c * kUnits + u)) & 1)) continue;
            const int32_t s = m_unitStart[u];
            const int32_t e = m_unitStart[u + 1];
            int32_t n = s >= 128 ? s - 128 : 0;
            uint64_t lo = n == 0 ? 0xAAAAAAAAAAAAAAAAull : 0;
            uint64_t hi = lo;
            for (; n < e; ++n) {
                const uint32_t b = bits[n];
                if (n >= s) {
                    const int16_t P = PredictBit(lut.data(), lo, hi);
                    const uint32_t r = b ^ (static_cast<uint16_t>(P) >> 15);
                    ++hist[static_cast<size_t>(TableIndex(P))][r];
                }
                hi = (hi << 1) | (lo >> 63);
                lo = (lo << 1) | b;
            }
        }
    }
    double bits = 0;
    FitTable(hist, maxTableLength, &bits);
    return bits + static_cast<double>(FilterCodingBits(f, m_opt, nullptr));
}

Filter FrameCoder::FitFilter(uint64_t unitMask) {
    auto cached = m_fitCache.find(unitMask);
    if (cached != m_fitCache.end()) return cached->second;

    Autocorrelation R{};
    for (int32_t c = 0; c < m_ch; ++c)
        for (int32_t u = 0; u < kUnits; ++u)
            if ((unitMask >> (c * kUnits + u)) & 1)
                for (int32_t k = 0; k < kLags; ++k) R[static_cast<size_t>(k)] += m_R[c][u][static_cast<size_t>(k)];

    const int32_t maxOrder = std::clamp(m_opt.fixedOrder > 0 ? m_opt.fixedOrder : m_opt.maxOrder, 1, kDstMaxOrder);
    std::vector<int32_t> orders;
    if (m_opt.fixedOrder > 0) {
        orders.push_back(maxOrder);
    } else {
        for (int32_t o : {16, 32, 64, 128})
            if (o < maxOrder) orders.push_back(o);
        orders.push_back(maxOrder);
    }

    // Levinson recursion on the +/-1 signal, with a little white noise for
    // stability; the solutions at the candidate orders are kept.
    std::vector<std::vector<double>> solutions;
    {
        std::vector<double> a(static_cast<size_t>(maxOrder) + 1, 0.0), prev;
        double err = R[0] * 1.0001 + 1e-9;
        size_t next = 0;
        for (int32_t i = 1; i <= maxOrder; ++i) {
            if (err > 1e-9 * (R[0] + 1)) {
                double acc = R[static_cast<size_t>(i)];
                for (int32_t j = 1; j < i; ++j) acc -= a[static_cast<size_t>(j)] * R[static_cast<size_t>(i - j)];
                const double k = acc / err;
                prev = a;
                a[static_cast<size_t>(i)] = k;
                for (int32_t j = 1; j < i; ++j) a[static_cast<size_t>(j)] = prev[static_cast<size_t>(j)] - k * prev[static_cast<size_t>(i - j)];
                err *= (1 - k * k);
            }
            if (next < orders.size() && orders[next] == i) {
                solutions.push_back(std::vector<double>(a.begin() + 1, a.begin() + 1 + i));
                ++next;
            }
        }
    }

    Filter best;
    double bestBits = 1e300;
    for (const std::vector<double>& sol : solutions) {
        double maxAbs = 0;
        for (double v : sol) maxAbs = std::max(maxAbs, std::fabs(v));
        const double sMax = maxAbs > 0 ? std::min(255.0 / maxAbs, 4096.0) : 1.0;
        for (double scale : {sMax, sMax * 0.5}) {
            Filter f;
            f.order = static_cast<int32_t>(sol.size());
            for (int32_t k = 0; k < f.order; ++k)
                f.coef[k] = std::clamp(static_cast<int32_t>(std::lround(sol[static_cast<size_t>(k)] * scale)), -256, 255);
            const double bits = EvaluateFilter(f, unitMask, m_opt.maxTableLength);
            if (bits < bestBits) {
                bestBits = bits;
                best = f;
            }
        }
    }
    m_fitCache[unitMask] = best;
    return best;
}

// Unit boundaries of k equal segments.
void SplitUnits(int32_t k, int32_t* bound) {
    for (int32_t i = 0; i <= k; ++i) bound[i] = (kUnits * i + k / 2) / k;
}

bool FrameCoder::MakePlan(Plan& plan, int32_t fSegs, int32_t tSegs, bool shared, bool perChannel) {
    const int32_t maxT = 2 * m_ch;
    if (perChannel) shared = false;
    fSegs = std::clamp(fSegs, 1, kDstMaxFilterSegments);
    // Segments are whole units; frames too short for units of the minimum
    // segment length keep one segment.
    if (8 * m_unitBytes < kDstMinFilterSegmentBits) {
        fSegs = 1;
        if (tSegs > 1) tSegs = 1;
    }
    for (int32_t c = 0; c < m_ch; ++c) {
        plan.fCount[c] = perChannel ? 1 + c % fSegs : fSegs;
        SplitUnits(plan.fCount[c], plan.fBound[c]);
    }
    plan.fSegSame = !perChannel;
    plan.tablesUseFilterSeg = tSegs <= 0;
    if (plan.tablesUseFilterSeg) {
        std::memcpy(plan.tCount, plan.fCount, sizeof(plan.tCount));
        std::memcpy(plan.tBound, plan.fBound, sizeof(plan.tBound));
        plan.tSegSame = plan.fSegSame;
    } else {
        tSegs = std::clamp(tSegs, 1, kDstMaxTableSegments);
        for (int32_t c = 0; c < m_ch; ++c) {
            plan.tCount[c] = perChannel ? 1 + (c + 1) % tSegs : tSegs;
            SplitUnits(plan.tCount[c], plan.tBound[c]);
        }
        plan.tSegSame = !perChannel;
    }
    // Numbers in reading order, wrapping at the maximum so none skips ahead.
    auto number = [&](int32_t (*num)[kDstMaxSegments], const int32_t* count, int32_t& total) {
        int32_t next = 0;
        for (int32_t c = 0; c < m_ch; ++c)
            for (int32_t s = 0; s < count[c]; ++s) {
                if (shared && c > 0) {
                    num[c][s] = num[0][s];
                } else {
                    num[c][s] = next % maxT;
                    ++next;
                }
            }
        total = std::min(next, maxT);
    };
    number(plan.fNum, plan.fCount, plan.nFilters);
    plan.fMapSame = shared || m_ch == 1;
    bool countsMatch = true;
    for (int32_t c = 0; c < m_ch; ++c) countsMatch = countsMatch && plan.tCount[c] == plan.fCount[c];
    plan.tablesUseFilterMap = countsMatch && m_opt.tablesUseFilterMapping != 0;
    if (plan.tablesUseFilterMap) {
        std::memcpy(plan.tNum, plan.fNum, sizeof(plan.tNum));
        plan.nTables = plan.nFilters;
        plan.tMapSame = plan.fMapSame;
    } else {
        if (m_opt.tablesUseFilterMapping == 1 && !countsMatch) return false;
        number(plan.tNum, plan.tCount, plan.nTables);
        plan.tMapSame = shared || m_ch == 1;
    }

    // Fit each filter on the units it covers.
    plan.filters.assign(static_cast<size_t>(plan.nFilters), Filter{});
    for (int32_t f = 0; f < plan.nFilters; ++f) {
        uint64_t mask = 0;
        for (int32_t c = 0; c < m_ch; ++c)
            for (int32_t s = 0; s < plan.fCount[c]; ++s)
                if (plan.fNum[c][s] == f)
                    for (int32_t u = plan.fBound[c][s]; u < plan.fBound[c][s + 1]; ++u) mask |= 1ull << (c * kUnits + u);
        plan.filters[static_cast<size_t>(f)] = FitFilter(mask);
    }
    FinishPlan(plan);
    return true;
}

// Predictions with the plan's filters, then tables and half-probability flags.
void FrameCoder::FinishPlan(Plan& plan) {
    std::vector<int16_t> luts(static_cast<size_t>(plan.nFilters) * kDstFilterGroups * 256);
    for (int32_t f = 0; f < plan.nFilters; ++f)
        BuildLut(plan.filters[static_cast<size_t>(f)], luts.data() + static_cast<size_t>(f) * kDstFilterGroups * 256);
    std::vector<Histogram> hist(static_cast<size_t>(plan.nTables), Histogram{});
    for (int32_t c = 0; c < m_ch; ++c) {
        const uint8_t* bits = m_data[static_cast<size_t>(c)].bit.data();
        int16_t* P = m_P.data() + static_cast<size_t>(c) * m_N;
        uint64_t lo = 0xAAAAAAAAAAAAAAAAull, hi = lo;
        for (int32_t s = 0; s < plan.fCount[c]; ++s) {
            const int16_t* lut = luts.data() + static_cast<size_t>(plan.fNum[c][s]) * kDstFilterGroups * 256;
            for (int32_t n = SegmentStartBit(plan.fBound[c][s]); n < SegmentStartBit(plan.fBound[c][s + 1]); ++n) {
                P[n] = PredictBit(lut, lo, hi);
                hi = (hi << 1) | (lo >> 63);
                lo = (lo << 1) | bits[n];
            }
        }
        for (int32_t s = 0; s < plan.tCount[c]; ++s) {
            Histogram& h = hist[static_cast<size_t>(plan.tNum[c][s])];
            for (int32_t n = SegmentStartBit(plan.tBound[c][s]); n < SegmentStartBit(plan.tBound[c][s + 1]); ++n)
                ++h[static_cast<size_t>(TableIndex(P[n]))][bits[n] ^ (static_cast<uint16_t>(P[n]) >> 15)];
        }
    }
    plan.tables.resize(static_cast<size_t>(plan.nTables));
    for (int32_t t = 0; t < plan.nTables; ++t)
        plan.tables[static_cast<size_t>(t)] = FitTable(hist[static_cast<size_t>(t)], m_opt.maxTableLength, nullptr);

    // Data cost per channel; the half-probability flag replaces the cost of
    // the first `order` bits by one bit each.
    const CostTable& cost = Costs();
    double total = 0;
    for (int32_t c = 0; c < m_ch; ++c) {
        const uint8_t* bits = m_data[static_cast<size_t>(c)].bit.data();
        const int16_t* P = m_P.data() + static_cast<size_t>(c) * m_N;
        const int32_t halfBits = std::min(plan.filters[static_cast<size_t>(plan.fNum[c][0])].order, m_N);
        double warm = 0, rest = 0;
        for (int32_t s = 0; s < plan.tCount[c]; ++s) {
            const Table& t = plan.tables[static_cast<size_t>(plan.tNum[c][s])];
            for (int32_t n = SegmentStartBit(plan.tBound[c][s]); n < SegmentStartBit(plan.tBound[c][s + 1]); ++n) {
                const int32_t p = t.entry[std::min(TableIndex(P[n]), t.length - 1)];
                const double b = cost.bits[p][bits[n] ^ (static_cast<uint16_t>(P[n]) >> 15)];
                (n < halfBits ? warm : rest) += b;
            }
        }
        const bool half = m_opt.halfProb == 1 || (m_opt.halfProb == -1 && halfBits < warm);
        plan.halfProb[c] = half;
        total += rest + (half ? halfBits : warm);
    }
    BitWriter header;
    WriteHeader(plan, header, nullptr);
    plan.estimatedBits = total + static_cast<double>(header.bits);
}

void FrameCoder::WriteSegmentation(BitWriter& w, const int32_t* count, const int32_t (*bound)[kDstMaxSegments + 1],
                                   bool same, int32_t L) {
    w.PutBit(same ? 1 : 0);
    const int32_t limit = m_F - L / 8;
    const int32_t res = m_unitBytes;  // segments are whole units
    bool resolutionWritten = false;
    for (int32_t c = 0; c < (same ? 1 : m_ch); ++c) {
        int32_t M = limit;
        for (int32_t s = 0; s + 1 < count[c]; ++s) {
            w.PutBit(0);
            if (!resolutionWritten) {
                w.Put(static_cast<uint32_t>(res), BitsFor(limit));
                resolutionWritten = true;
            }
            const int32_t len = bound[c][s + 1] - bound[c][s];
            w.Put(static_cast<uint32_t>(len), BitsFor(M / res));
            M -= res * len;
        }
        w.PutBit(1);
    }
}

void FrameCoder::WriteMapping(BitWriter& w, const int32_t* count, const int32_t (*num)[kDstMaxSegments], bool same) {
    w.PutBit(same ? 1 : 0);
    int32_t T = 1;
    auto put = [&](int32_t v) {
        w.Put(static_cast<uint32_t>(v), BitsFor(T));
        if (v == T) ++T;
    };
    for (int32_t c = 0; c < (same ? 1 : m_ch); ++c)
        for (int32_t s = 0; s < count[c]; ++s)
            if (c != 0 || s != 0) put(num[c][s]);
}

void FrameCoder::WriteHeader(const Plan& plan, BitWriter& w, DstFrameStats* stats) {
    w.PutBit(1);  // DST coded
    w.PutBit(plan.tablesUseFilterSeg ? 1 : 0);
    WriteSegmentation(w, plan.fCount, plan.fBound, plan.fSegSame, kDstMinFilterSegmentBits);
    if (!plan.tablesUseFilterSeg) WriteSegmentation(w, plan.tCount, plan.tBound, plan.tSegSame, kDstMinTableSegmentBits);
    w.PutBit(plan.tablesUseFilterMap ? 1 : 0);
    WriteMapping(w, plan.fCount, plan.fNum, plan.fMapSame);
    if (!plan.tablesUseFilterMap) WriteMapping(w, plan.tCount, plan.tNum, plan.tMapSame);
    for (int32_t c = 0; c < m_ch; ++c) w.PutBit(plan.halfProb[c] ? 1 : 0);

    for (const Filter& f : plan.filters) {
        w.Put(static_cast<uint32_t>(f.order - 1), 7);
        CodedChoice choice;
        FilterCodingBits(f, m_opt, &choice);
        w.PutBit(choice.method >= 0 ? 1 : 0);
        if (choice.method >= 0) {
            WriteCoded(w, f.coef, f.order, kFilterMethods, 9, 0, choice);
            if (stats) {
                ++stats->codedFilters;
                stats->methodsUsed |= 1 << choice.method;
            }
        } else {
            for (int32_t i = 0; i < f.order; ++i) w.Put(static_cast<uint32_t>(f.coef[i]) & 0x1FF, 9);
        }
        if (stats) stats->maxOrder = std::max(stats->maxOrder, f.order);
    }
    for (const Table& t : plan.tables) {
        w.Put(static_cast<uint32_t>(t.length - 1), 6);
        if (t.length == 1) continue;
        CodedChoice choice;
        TableCodingBits(t, m_opt, &choice);
        w.PutBit(choice.method >= 0 ? 1 : 0);
        if (choice.method >= 0) {
            WriteCoded(w, t.entry, t.length, kTableMethods, 7, 1, choice);
            if (stats) {
                ++stats->codedTables;
                stats->methodsUsed |= 1 << choice.method;
            }
        } else {
            for (int32_t i = 0; i < t.length; ++i) w.Put(static_cast<uint32_t>(t.entry[i] - 1), 7);
        }
    }
}

// Arithmetic coder, the inverse of the decoder's: `out` holds one bit per
// byte, out[0] being the unused leading bit (always 0).
class ArithEncoder {
public:
    std::vector<uint8_t> out{0};

    void Encode(uint32_t r, uint32_t p) {
        const uint32_t a = ((m_A >> 8) | ((m_A >> 7) & 1)) * p;
        const uint32_t h = m_A - a;
        if (r == 0) {
            m_L += h;
            m_A = a;
        } else {
            m_A = h;
        }
        if (m_L >= 4096) {
            m_L -= 4096;
            Carry();
        }
        while (m_A < 2048) {
            m_A <<= 1;
            out.push_back(static_cast<uint8_t>((m_L >> 11) & 1));
            m_L = (m_L << 1) & 0xFFF;
        }
    }
    // Ends with the value in the final interval that has the most trailing
    // zeros; the decoder reads zeros past the data.
    void Finish() {
        uint32_t X = m_L;
        for (int32_t t = 12; t >= 0; --t) {
            const uint32_t step = 1u << t;
            const uint32_t candidate = (m_L + step - 1) / step * step;
            if (candidate < m_L + m_A) {
                X = candidate;
                break;
            }
        }
        if (X >= 4096) {
            X -= 4096;
            Carry();
        }
        for (int32_t i = 11; i >= 0; --i) out.push_back(static_cast<uint8_t>((X >> i) & 1));
        while (out.size() > 1 && out.back() == 0) out.pop_back();
    }

private:
    void Carry() {
        size_t j = out.size() - 1;
        while (j > 0 && out[j] == 1) out[j--] = 0;
        out[j] = 1;
    }
    uint32_t m_L = 0;
    uint32_t m_A = 4095;
};

std::vector<uint8_t> FrameCoder::Encode(DstFrameStats& stats) {
    // Candidate layouts.
    struct Candidate {
        int32_t fSegs, tSegs;
        bool shared;
    };
    std::vector<Candidate> candidates;
    const bool perChannel = m_opt.perChannelSegmentation;
    std::vector<int32_t> fOptions = m_opt.filterSegments > 0 ? std::vector<int32_t>{m_opt.filterSegments}
                                                             : std::vector<int32_t>{1, 2};
    std::vector<int32_t> tOptions = m_opt.tableSegments != 0 ? std::vector<int32_t>{m_opt.tableSegments}
                                                             : std::vector<int32_t>{-1, 2};
    std::vector<bool> sOptions;
    if (m_opt.sharedMapping >= 0) sOptions.push_back(m_opt.sharedMapping == 1);
    else {
        sOptions.push_back(false);
        if (m_ch > 1) sOptions.push_back(true);
    }
    for (int32_t fs : fOptions)
        for (int32_t ts : tOptions)
            for (bool sh : sOptions) {
                // Automatic search: separate table segments only with one filter segment.
                if (m_opt.filterSegments == 0 && m_opt.tableSegments == 0 && fs > 1 && ts > 0) continue;
                candidates.push_back({fs, ts, sh});
            }

    Plan best;
    bool haveBest = false;
    for (const Candidate& cand : candidates) {
        Plan plan;
        if (!MakePlan(plan, cand.fSegs, cand.tSegs, cand.shared, perChannel)) continue;
        if (!haveBest || plan.estimatedBits < best.estimatedBits) {
            best = plan;
            haveBest = true;
        }
    }
    if (!haveBest) {
        DstEncoderOptions fallback = m_opt;
        Plan plan;
        m_opt.tablesUseFilterMapping = -1;
        MakePlan(plan, 1, -1, false, false);
        best = plan;
        m_opt = fallback;
    }
    FinishPlan(best);  // recompute predictions of the chosen plan

    BitWriter w;
    stats = DstFrameStats{};
    WriteHeader(best, w, &stats);

    // Arithmetic coding of every bit, channels interleaved per bit position.
    ArithEncoder coder;
    {
        const uint32_t c0 = static_cast<uint32_t>(best.filters[0].coef[0]) & 0x7F;
        uint32_t rev = 0;
        for (int32_t i = 0; i < 7; ++i) rev |= ((c0 >> i) & 1) << (6 - i);
        coder.Encode(1, rev + 1);
    }
    std::vector<uint8_t> fMap(static_cast<size_t>(m_ch) * m_N), tMap(static_cast<size_t>(m_ch) * m_N);
    for (int32_t c = 0; c < m_ch; ++c) {
        for (int32_t s = 0; s < best.tCount[c]; ++s)
            for (int32_t n = SegmentStartBit(best.tBound[c][s]); n < SegmentStartBit(best.tBound[c][s + 1]); ++n)
                tMap[static_cast<size_t>(c) * m_N + n] = static_cast<uint8_t>(best.tNum[c][s]);
    }
    int32_t halfBits[kDstMaxChannels];
    for (int32_t c = 0; c < m_ch; ++c)
        halfBits[c] = best.halfProb[c] ? best.filters[static_cast<size_t>(best.fNum[c][0])].order : 0;
    for (int32_t n = 0; n < m_N; ++n) {
        for (int32_t c = 0; c < m_ch; ++c) {
            const int16_t P = m_P[static_cast<size_t>(c) * m_N + n];
            const uint32_t r = m_data[static_cast<size_t>(c)].bit[static_cast<size_t>(n)] ^ (static_cast<uint16_t>(P) >> 15);
            uint32_t p = 128;
            if (n >= halfBits[c]) {
                const Table& t = best.tables[tMap[static_cast<size_t>(c) * m_N + n]];
                p = static_cast<uint32_t>(t.entry[std::min(TableIndex(P), t.length - 1)]);
            }
            coder.Encode(r, p);
        }
    }
    coder.Finish();
    for (uint8_t b : coder.out) w.PutBit(b);

    stats.coded = true;
    stats.filters = best.nFilters;
    stats.tables = best.nTables;
    stats.filterSegments = best.fCount[0];
    stats.tableSegments = best.tCount[0];
    stats.tablesUseFilterSegmentation = best.tablesUseFilterSeg;
    stats.tablesUseFilterMapping = best.tablesUseFilterMap;
    stats.sharedMapping = best.fMapSame && m_ch > 1;
    for (int32_t c = 0; c < m_ch; ++c) stats.halfProbChannels += best.halfProb[c] ? 1 : 0;
    stats.bytes = w.bytes.size();
    return std::move(w.bytes);
}

std::vector<uint8_t> UncodedFrame(const uint8_t* dsd, size_t bytes) {
    std::vector<uint8_t> out(bytes + 1);
    out[0] = 0;
    std::memcpy(out.data() + 1, dsd, bytes);
    return out;
}

}  // namespace

DstEncoder::DstEncoder(int32_t channels, int32_t sampleRate, const DstEncoderOptions& options) : m_options(options) {
    const int32_t F = DstBytesPerChannel(sampleRate);
    if (channels >= 1 && channels <= kDstMaxChannels && F >= 1 && F <= kDstMaxBytesPerChannel) {
        m_channels = channels;
        m_bytesPerChannel = F;
    }
}

std::vector<uint8_t> DstEncoder::EncodeFrame(const uint8_t* dsd) {
    m_stats = DstFrameStats{};
    if (!Valid()) return {};
    const size_t bytes = FrameBytes();
    if (m_options.uncoded == 1) {
        m_stats.bytes = bytes + 1;
        return UncodedFrame(dsd, bytes);
    }
    FrameCoder coder(m_channels, m_bytesPerChannel, m_options, dsd);
    DstFrameStats stats;
    std::vector<uint8_t> frame = coder.Encode(stats);
    if (m_options.uncoded == -1 && frame.size() >= bytes + 1) {
        m_stats.bytes = bytes + 1;
        return UncodedFrame(dsd, bytes);
    }
    m_stats = stats;
    return frame;
}

std::vector<std::vector<uint8_t>> DstEncodeStream(const uint8_t* dsd, size_t bytes, int32_t channels,
                                                  int32_t sampleRate, const DstEncoderOptions& options,
                                                  std::vector<DstFrameStats>* frameStats) {
    std::vector<std::vector<uint8_t>> frames;
    DstEncoder encoder(channels, sampleRate, options);
    if (!encoder.Valid()) return frames;
    const size_t frameBytes = encoder.FrameBytes();
    std::vector<uint8_t> block(frameBytes);
    for (size_t pos = 0; pos < bytes; pos += frameBytes) {
        const size_t take = std::min(frameBytes, bytes - pos);
        std::memcpy(block.data(), dsd + pos, take);
        std::memset(block.data() + take, 0x69, frameBytes - take);
        frames.push_back(encoder.EncodeFrame(block.data()));
        if (frameStats) frameStats->push_back(encoder.LastStats());
    }
    return frames;
}

}  // namespace dsdtools
