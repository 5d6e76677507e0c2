// Opens arbitrary bytes as a disc image and reads a few requests of every
// track, with a seek in between. To reach the area tables and the audio
// sectors quickly the input is mapped onto the sector layout: the first 16
// bytes steer the run and describe an area table of contents (channels, track
// count, per-track start, length and duration); the rest fills the audio
// sectors in slices of a steered size. With control bit 0x80 the rest is
// instead the raw image from the master table of contents on. In the mapped
// form DST-coded sectors stay so when steered to and in one run of four
// among those, and raw images read DST-coded tracks in one run of four (their
// decoding is slow).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "sacd/CSacdIso.h"

namespace {

constexpr size_t kSector = 2048;
constexpr size_t kFirst = 510;  // sectors before it are zero and not stored

void PutBe(uint8_t* p, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
}

// Bytes one run may read: 96 sectors. Track windows may span hundreds of
// sectors that hold no audio (the zero sectors below the master table of
// contents, say), which the reader walks one by one; past the budget every
// read fails, as a read error would, and the run ends.
constexpr int64_t kReadBudget = 96 * 2064;

// A reader over an image whose bytes below `zeroBytes` are all zero. Reads
// are not traced for coverage: they are the harness's, and make up most of a
// run when they come in small pieces.
class SparseReader : public VBaseReader {
public:
    SparseReader(const std::vector<uint8_t>& tail, int64_t zeroBytes, int32_t piece)
        : tail_(tail), zero_(zeroBytes), piece_(piece) {
        open_ = 1;
    }
    bool Open() override { return true; }
    void Abort() override {}
    __attribute__((no_sanitize("coverage"))) int32_t Read(void* buffer, int32_t count) override {
        const int64_t size = zero_ + static_cast<int64_t>(tail_.size());
        if (count <= 0 || position_ >= size || budget_ <= 0) return 0;
        int64_t n = size - position_;
        if (n > count) n = count;
        if (n > piece_) n = piece_;
        budget_ -= n;
        auto* out = static_cast<uint8_t*>(buffer);
        int64_t zeros = zero_ - position_;
        if (zeros < 0) zeros = 0;
        if (zeros > n) zeros = n;
        std::memset(out, 0, static_cast<size_t>(zeros));
        if (n > zeros) std::memcpy(out + zeros, tail_.data() + (position_ + zeros - zero_), static_cast<size_t>(n - zeros));
        position_ += n;
        return static_cast<int32_t>(n);
    }
    int32_t Write(const void*, int32_t) override { return -1; }
    int64_t GetSize() override { return zero_ + static_cast<int64_t>(tail_.size()); }
    int64_t GetPosition() override { return position_; }
    int64_t Seek(int64_t offset, int32_t origin) override {
        position_ = ResolvePosition(position_, offset, origin);
        return position_;
    }
    bool Truncate() override { return false; }
    bool HasCapability(int32_t) override { return false; }

private:
    const std::vector<uint8_t>& tail_;
    int64_t zero_;
    int32_t piece_;
    int64_t position_ = 0;
    int64_t budget_ = kReadBudget;
};

// DST decoding costs milliseconds a frame (and has its own fuzz target): the
// audio sectors of the mapped form keep their DST flag when the control byte
// asks for it and in one run of four (by the input's hash) among those.
bool DstKept(const uint8_t* c, bool dstRun) { return dstRun && (c[6] & 0xE0) == 0xE0; }

// Logical sectors from 510 on: master TOC, texts, manufacturer sector, one
// area TOC (header, track lists, track text) at 520 and audio from 524 on.
std::vector<uint8_t> StructuredImage(const uint8_t* c, const uint8_t* rest, size_t restSize, bool dstRun) {
    const size_t slice = 16 * (1 + (c[4] & 0x7F));
    const size_t audioSectors = std::min<size_t>(64, (restSize + slice - 1) / slice);
    const size_t audioFirst = 524;
    std::vector<uint8_t> img((audioFirst + audioSectors + (c[5] & 3) - kFirst) * kSector, 0);
    auto sector = [&](size_t s) { return img.data() + (s - kFirst) * kSector; };
    uint8_t* m = sector(510);
    std::memcpy(m, "SACDMTOC", 8);
    m[8] = 1;
    m[9] = c[6] & 0x1F;
    PutBe(m + 64, 520, 4);
    PutBe(m + 84, 4 + (c[5] >> 6), 2);
    for (size_t k = 0; k < 8; ++k) std::memcpy(sector(511 + k), "SACDText", 8);
    PutBe(sector(511) + 32, 48 + c[7] % 8, 2);
    PutBe(sector(511) + 34, c[7] & 0x80 ? 2040 : 50, 2);
    std::memcpy(sector(511) + 48, "Disc\0Artist", 11);
    std::memcpy(sector(519), "SACD_Man", 8);

    uint8_t* h = sector(520);
    std::memcpy(h, c[5] & 4 ? "MULCHTOC" : "TWOCHTOC", 8);
    // DST-coded runs keep to one channel (decoding cost grows with the channels).
    h[32] = static_cast<uint8_t>(DstKept(c, dstRun) ? 1 : c[1] & 7);
    const uint32_t tracks = c[2] & 7;
    h[69] = static_cast<uint8_t>(tracks);
    PutBe(h + 72, static_cast<uint32_t>(audioFirst), 4);
    PutBe(h + 76, static_cast<uint32_t>(audioFirst + audioSectors - (c[5] & 8 ? 0 : 1)), 4);
    std::memcpy(sector(521), "SACDTRL1", 8);
    std::memcpy(sector(522), "SACDTRL2", 8);
    std::memcpy(sector(523), c[5] & 0x10 ? "SACD_IGL" : "SACDTTxt", 8);
    for (uint32_t t = 0; t < tracks; ++t) {
        const uint8_t d = c[8 + t];
        PutBe(sector(521) + 8 + 4 * t, static_cast<uint32_t>(audioFirst + (d & 0x3F)), 4);
        PutBe(sector(521) + 1028 + 4 * t, 1 + (d >> 4), 4);
        sector(522)[1028 + 4 * t + 1] = d;
        sector(522)[1028 + 4 * t + 2] = d % 80;
        PutBe(sector(523) + 8 + 2 * t, 64 + 32 * t, 2);
        uint8_t* text = sector(523) + 64 + 32 * t;
        text[0] = 1 + (d & 1);
        text[4] = 1;
        std::memcpy(text + 6, "Title\xC3\xA9\xE2\x82\xAC\xFF", 10);
        text[16] = d & 2 ? 0 : 'x';
    }
    const bool keepDst = DstKept(c, dstRun);
    for (size_t s = 0; s < audioSectors; ++s) {
        const size_t from = s * slice;
        const size_t n = std::min(slice, restSize - std::min(restSize, from));
        if (n) std::memcpy(sector(audioFirst + s), rest + from, std::min(n, kSector));
        if (!keepDst) sector(audioFirst + s)[0] &= 0xFE;
    }
    return img;
}

// The same sectors in the 2064-byte geometry.
std::vector<uint8_t> Widen(const std::vector<uint8_t>& img) {
    std::vector<uint8_t> out;
    out.reserve(img.size() / kSector * 2064 + 2064);
    for (size_t at = 0; at < img.size(); at += kSector) {
        out.insert(out.end(), 12, 0xEE);
        out.insert(out.end(), img.begin() + static_cast<std::ptrdiff_t>(at),
                   img.begin() + static_cast<std::ptrdiff_t>(std::min(img.size(), at + kSector)));
        out.insert(out.end(), 4, 0xDD);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16) return 0;
    const uint8_t* c = data;
    const bool raw = (c[0] & 0x80) != 0;
    const bool wide = (c[0] & 0x40) != 0;
    // Short reads: 1 to 2080 bytes a piece (a sector is 2048 or 2064).
    const int32_t piece = (c[0] & 0x20) ? 1 + 33 * (c[3] & 0x3F) : INT32_MAX;
    const bool dstRun = fuzz::InputHash(data, size) % 4 == 0;
    std::vector<uint8_t> img =
        raw ? std::vector<uint8_t>(data + 16, data + size) : StructuredImage(c, data + 16, size - 16, dstRun);
    if (wide) img = Widen(img);
    // Cut the image inside its last sector when asked.
    if ((c[0] & 0x10) && !img.empty()) img.resize(img.size() - 1 - c[3] % std::min<size_t>(img.size(), 2064));
    const int64_t zeroBytes = static_cast<int64_t>(kFirst) * (wide ? 2064 : 2048);

    SparseReader reader(img, zeroBytes, piece);
    CSacdIso iso(1);
    if (!iso.Open(&reader)) return 0;
    const bool dst = raw || DstKept(c, dstRun);
    const int64_t request = 1 + (c[1] >> 3) * (dst ? 150 : 300);
    KwByteBuffer out;
    for (size_t t = 0; t < std::min<size_t>(iso.TrackCount(), dst ? 1 : 8); ++t) {
        if (!iso.SelectTrack(&reader, t)) continue;
        const CSacdIso::CTrack& track = iso.CurrentTrack();
        // A DST frame costs milliseconds to decode: raw images read DST-coded
        // tracks in one run of four.
        if (raw && !dstRun && iso.TrackIsDst(&reader)) continue;
        for (int i = 0; i < (dst ? 1 : 2); ++i) {
            if (!iso.ReadAudio(&reader, request, out)) break;
            if (static_cast<int64_t>(out.Size()) > request) __builtin_trap();
        }
        const int64_t span = track.endSector - track.firstSector;
        iso.SeekToSector(&reader, track.firstSector + (span > 0 ? (c[3] % span) : 0));
        iso.ResetDecoding();
        if (!dst && iso.ReadAudio(&reader, request, out) && static_cast<int64_t>(out.Size()) > request) __builtin_trap();
    }
    return 0;
}
