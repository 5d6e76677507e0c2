#include "tools/lib/SacdImageBuilder.h"

#include <algorithm>
#include <cstring>

namespace dsdtools {
namespace {

constexpr size_t kData = 2048;
constexpr int64_t kMasterToc = 510;
constexpr int64_t kFirstAreaToc = 544;
constexpr uint8_t kIdle = 0x69;
constexpr uint8_t kAudioType = 2;

void PutBE(uint8_t* p, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
}
void PutSignature(uint8_t* p, const char* s) { std::memcpy(p, s, 8); }

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

// One frame as it goes on the disc, and the track it belongs to.
struct DiscFrame {
    std::vector<uint8_t> coded;
    size_t track = 0;
    bool music = true;  // false for gap frames
};

struct Packet {
    bool frameStart = false;
    uint8_t type = kAudioType;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

// Packs an area's frames into audio sectors of 2048 data bytes.
class AreaPacker {
public:
    AreaPacker(const SacdImageOptions& o, bool dst, int64_t firstSector)
        : m_options(o), m_dst(dst), m_first(firstSector), m_frameInfoBytes(dst ? 4 : 3) {
        m_other.assign(64, 0xA5);
    }

    std::vector<uint8_t> sectors;  // 2048 bytes each

    int64_t CurrentSector() const { return m_first + static_cast<int64_t>(sectors.size() / kData); }

    // Adds one frame; returns the sector holding its start. A track's first
    // frame goes to a fresh sector, or (`inside`) to one that holds no other
    // frame start, so that a reader starting at that sector meets no earlier
    // frame but may meet the tail of one.
    int64_t AddFrame(const std::vector<uint8_t>& frame, bool trackStart, bool inside, uint32_t frameNumber) {
        if (trackStart && !m_packets.empty() && (!inside || !m_timecodes.empty())) Flush();
        int64_t startSector = -1;
        size_t at = 0;
        while (at < frame.size()) {
            if (m_options.otherPacketEvery && m_sinceOther >= m_options.otherPacketEvery) {
                const uint32_t len = 1 + m_otherCount % 40;
                if (m_packets.size() >= 7 || m_used + 2 + len > kData) Flush();
                m_packets.push_back({false, static_cast<uint8_t>(m_otherCount % 2 ? 7 : 3), m_other.data(), len});
                m_used += 2 + len;
                ++m_otherCount;
                m_sinceOther = 0;
            }
            if (m_packets.size() >= 7) Flush();
            const bool start = at == 0;
            const size_t overhead = 2 + (start ? m_frameInfoBytes : 0);
            if (m_used + overhead + 1 > kData) {
                Flush();
                continue;
            }
            const size_t length = std::min({frame.size() - at, static_cast<size_t>(m_options.maxPacketBytes),
                                            kData - m_used - overhead, size_t{2047}});
            if (start) {
                startSector = CurrentSector();
                m_timecodes.push_back(frameNumber);
            }
            m_packets.push_back({start, kAudioType, frame.data() + at, static_cast<uint32_t>(length)});
            m_used += overhead + length;
            at += length;
            ++m_sinceOther;
        }
        m_lastSector = CurrentSector();
        return startSector;
    }
    int64_t LastSector() const { return m_lastSector; }

    void Finish() {
        if (!m_packets.empty()) Flush();
    }

private:
    void Flush() {
        const size_t base = sectors.size();
        sectors.resize(base + kData, 0);
        uint8_t* s = sectors.data() + base;
        s[0] = static_cast<uint8_t>(m_packets.size() << 5 | m_timecodes.size() << 2 | (m_dst ? 1 : 0));
        size_t off = 1;
        for (const Packet& p : m_packets) {
            s[off] = static_cast<uint8_t>((p.frameStart ? 0x80 : 0) | p.type << 3 | (p.length >> 8 & 7));
            s[off + 1] = static_cast<uint8_t>(p.length & 0xFF);
            off += 2;
        }
        for (uint32_t n : m_timecodes) {
            s[off] = static_cast<uint8_t>(n / 4500);
            s[off + 1] = static_cast<uint8_t>(n / 75 % 60);
            s[off + 2] = static_cast<uint8_t>(n % 75);
            off += m_frameInfoBytes;
        }
        for (const Packet& p : m_packets) {
            std::memcpy(s + off, p.data, p.length);
            off += p.length;
        }
        m_packets.clear();
        m_timecodes.clear();
        m_used = 1;
    }

    const SacdImageOptions& m_options;
    bool m_dst;
    int64_t m_first;
    size_t m_frameInfoBytes;
    std::vector<uint8_t> m_other;
    std::vector<Packet> m_packets;
    std::vector<uint32_t> m_timecodes;
    size_t m_used = 1;
    uint32_t m_sinceOther = 0;
    uint32_t m_otherCount = 0;
    int64_t m_lastSector = 0;
};

// The area's frames as they go on the disc, and what a reader must deliver.
bool MakeFrames(const SacdImageOptions& o, const SacdAreaSpec& area, uint32_t areaNumber, std::vector<DiscFrame>& frames,
                std::vector<SacdBuiltTrack>& tracks, std::string* error) {
    const size_t frameBytes = static_cast<size_t>(area.channels) * kSacdFrameBytesPerChannel;
    for (size_t t = 0; t < area.tracks.size(); ++t) {
        const SacdTrackSpec& input = area.tracks[t];
        SacdBuiltTrack built;
        built.area = areaNumber;
        built.channels = area.channels;
        built.title = input.title;
        if (area.dst && !input.dstFrames.empty()) {
            built.frames = static_cast<uint32_t>(input.dstFrames.size());
            for (const auto& coded : input.dstFrames) {
                if (coded.size() > frameBytes + 1024) return Fail(error, "a coded frame is too long");
                frames.push_back({coded, tracks.size(), true});
            }
            if (o.gapFrames > 0 && t + 1 < area.tracks.size()) {
                const std::vector<uint8_t> idle(o.gapFrames * frameBytes, kIdle);
                for (auto& coded : DstEncodeStream(idle.data(), idle.size(), static_cast<int32_t>(area.channels),
                                                   static_cast<int32_t>(kSacdRate), o.dstOptions))
                    frames.push_back({std::move(coded), tracks.size(), false});
            }
            tracks.push_back(std::move(built));
            continue;
        }
        if (input.dsd.empty()) return Fail(error, "a track has no audio");
        built.expected = input.dsd;
        built.expected.resize((input.dsd.size() + frameBytes - 1) / frameBytes * frameBytes, kIdle);
        built.frames = static_cast<uint32_t>(built.expected.size() / frameBytes);
        const bool gap = o.gapFrames > 0 && t + 1 < area.tracks.size();
        if (gap) built.expected.resize(built.expected.size() + o.gapFrames * frameBytes, kIdle);
        const size_t count = built.expected.size() / frameBytes;
        std::vector<std::vector<uint8_t>> coded;
        if (area.dst) {
            coded = DstEncodeStream(built.expected.data(), built.expected.size(), static_cast<int32_t>(area.channels),
                                    static_cast<int32_t>(kSacdRate), o.dstOptions);
            if (coded.size() != count) return Fail(error, "DST encoding failed");
        }
        for (size_t f = 0; f < count; ++f) {
            DiscFrame frame;
            frame.track = tracks.size();
            frame.music = f < built.frames;
            if (area.dst) {
                frame.coded = std::move(coded[f]);
            } else {
                frame.coded.assign(built.expected.begin() + static_cast<std::ptrdiff_t>(f * frameBytes),
                                   built.expected.begin() + static_cast<std::ptrdiff_t>((f + 1) * frameBytes));
            }
            frames.push_back(std::move(frame));
        }
        tracks.push_back(std::move(built));
    }
    return true;
}

// The area's table of contents (header, track lists 1 and 2, optionally two
// ignored sectors, track text).
bool MakeAreaToc(const SacdImageOptions& o, const SacdAreaSpec& area, uint32_t number,
                 const std::vector<SacdBuiltTrack>& tracks, size_t firstTrack, int64_t audioFirst, int64_t audioLast, std::vector<uint8_t>& toc,
                 std::string* error) {
    const size_t count = area.tracks.size();
    const size_t sectors = o.ignoredTocSectors ? 6 : 4;
    toc.assign(sectors * kData, 0);
    uint8_t* h = toc.data();
    PutSignature(h, number == 1 ? "TWOCHTOC" : "MULCHTOC");
    h[8] = 1;
    h[9] = 20;
    h[32] = static_cast<uint8_t>(area.channels);
    h[69] = static_cast<uint8_t>(count);
    PutBE(h + 72, static_cast<uint64_t>(audioFirst), 4);
    PutBE(h + 76, static_cast<uint64_t>(o.areaEndInclusive ? audioLast : audioLast + 1), 4);

    uint8_t* trl1 = h + kData;
    uint8_t* trl2 = h + 2 * kData;
    PutSignature(trl1, "SACDTRL1");
    PutSignature(trl2, "SACDTRL2");
    for (size_t t = 0; t < count; ++t) {
        const SacdBuiltTrack& tr = tracks[firstTrack + t];
        PutBE(trl1 + 8 + 4 * t, static_cast<uint64_t>(tr.firstSector), 4);
        PutBE(trl1 + 1028 + 4 * t, static_cast<uint64_t>(tr.listedLength), 4);
        uint8_t* d = trl2 + 1028 + 4 * t;
        d[0] = static_cast<uint8_t>(tr.frames / 4500);
        d[1] = static_cast<uint8_t>(tr.frames / 75 % 60);
        d[2] = static_cast<uint8_t>(tr.frames % 75);
    }
    size_t next = 3;
    if (o.ignoredTocSectors) {
        PutSignature(h + next * kData, "SACD_IGL");
        next += 2;
    }
    uint8_t* text = h + next * kData;
    PutSignature(text, "SACDTTxt");
    size_t at = 8 + 2 * 255 + 2;
    for (size_t t = 0; t < count; ++t) {
        const SacdTrackSpec& input = area.tracks[t];
        if (input.title.empty() && input.performer.empty()) continue;
        const size_t need = 4 + (input.performer.empty() ? 0 : input.performer.size() + 3) + input.title.size() + 3;
        if (at + need > kData) return Fail(error, "track texts do not fit in one sector");
        PutBE(text + 8 + 2 * t, at, 2);
        text[at] = static_cast<uint8_t>((input.performer.empty() ? 0 : 1) + (input.title.empty() ? 0 : 1));
        size_t item = at + 4;
        auto put = [&](uint8_t type, const std::string& s) {
            text[item] = type;
            text[item + 1] = 0;
            std::memcpy(text + item + 2, s.data(), s.size());
            text[item + 2 + s.size()] = 0;
            item += 3 + s.size();
        };
        if (!input.performer.empty()) put(2, input.performer);
        if (!input.title.empty()) put(1, input.title);
        at = item;
    }
    return true;
}

// Lays out one area from `first` on: table of contents, audio sectors, a
// second copy of the table of contents. Returns the sector after it.
bool BuildArea(const SacdImageOptions& o, const SacdAreaSpec& area, uint32_t number, int64_t first,
               std::vector<uint8_t>& disc, std::vector<SacdBuiltTrack>& tracks, int64_t& tocSize, std::string* error) {
    const size_t firstTrack = tracks.size();
    std::vector<DiscFrame> frames;
    if (!MakeFrames(o, area, number, frames, tracks, error)) return false;
    tocSize = o.ignoredTocSectors ? 6 : 4;
    const int64_t audioFirst = first + tocSize;

    AreaPacker packer(o, area.dst, audioFirst);
    std::vector<int64_t> lastMusicSector(area.tracks.size(), 0);
    uint32_t frameNumber = 0;
    size_t previousTrack = SIZE_MAX;
    for (const DiscFrame& f : frames) {
        const bool firstOfTrack = f.track != previousTrack;
        previousTrack = f.track;
        const int64_t start = packer.AddFrame(f.coded, firstOfTrack, o.tracksInsideFrames, frameNumber++);
        SacdBuiltTrack& tr = tracks[f.track];
        if (firstOfTrack) tr.firstSector = start;
        tr.frameStartSector.push_back(start);
        if (f.music) lastMusicSector[f.track - firstTrack] = packer.LastSector();
    }
    packer.Finish();
    const int64_t audioSectors = static_cast<int64_t>(packer.sectors.size() / kData);
    const int64_t audioLast = audioFirst + audioSectors - 1;
    for (size_t t = firstTrack; t < tracks.size(); ++t) {
        int64_t end = lastMusicSector[t - firstTrack] + 1;
        if (t + 1 < tracks.size()) end = std::min(end, tracks[t + 1].firstSector);
        tracks[t].listedLength = end - tracks[t].firstSector;
    }
    std::vector<uint8_t> toc;
    if (!MakeAreaToc(o, area, number, tracks, firstTrack, audioFirst, audioLast, toc, error)) return false;
    const size_t base = static_cast<size_t>(first) * kData;
    disc.resize(base);
    disc.insert(disc.end(), toc.begin(), toc.end());
    disc.insert(disc.end(), packer.sectors.begin(), packer.sectors.end());
    disc.insert(disc.end(), toc.begin(), toc.end());
    return true;
}

bool CheckArea(const SacdAreaSpec& area, bool stereo, std::string* error) {
    if (area.tracks.empty() || area.tracks.size() > 255) return Fail(error, "an area needs 1 to 255 tracks");
    if (stereo && area.channels != 2) return Fail(error, "the two-channel area needs two-channel sources");
    if (area.channels < 1 || area.channels > 6) return Fail(error, "an area holds 1 to 6 channels");
    const size_t frameBytes = static_cast<size_t>(area.channels) * kSacdFrameBytesPerChannel;
    for (const SacdTrackSpec& t : area.tracks)
        if (t.dsd.size() / frameBytes >= 255u * 4500u || t.dstFrames.size() >= 255u * 4500u)
            return Fail(error, "a track is too long");
    return true;
}

}  // namespace

bool BuildSacdImage(const SacdImageOptions& o, const SacdAreaSpec& stereo, const SacdAreaSpec* multichannel,
                    SacdImage& image, std::string* error) {
    image = SacdImage();
    if (o.sectorSize != 2048 && o.sectorSize != 2064) return Fail(error, "sector size must be 2048 or 2064");
    if (o.maxPacketBytes < 1 || o.maxPacketBytes > 2047) return Fail(error, "packet size must be 1 to 2047");
    if (!CheckArea(stereo, true, error) || (multichannel && !CheckArea(*multichannel, false, error))) return false;
    if (o.discTitle.size() + o.discArtist.size() + 2 > kData - 48) return Fail(error, "disc texts too long");

    std::vector<uint8_t> disc(static_cast<size_t>(kFirstAreaToc) * kData, 0);
    int64_t toc1 = 0, toc2 = 0;
    if (!BuildArea(o, stereo, 1, kFirstAreaToc, disc, image.tracks, toc1, error)) return false;
    const int64_t area2 = static_cast<int64_t>(disc.size() / kData);
    if (multichannel && !BuildArea(o, *multichannel, 2, area2, disc, image.tracks, toc2, error)) return false;

    uint8_t* m = disc.data() + kMasterToc * kData;
    PutSignature(m, "SACDMTOC");
    m[8] = 1;
    m[9] = 20;
    PutBE(m + 64, kFirstAreaToc, 4);
    PutBE(m + 72, multichannel ? static_cast<uint64_t>(area2) : 0, 4);
    PutBE(m + 84, static_cast<uint64_t>(toc1), 2);
    PutBE(m + 86, static_cast<uint64_t>(toc2), 2);
    for (int k = 0; k < 8; ++k) PutSignature(m + (1 + k) * kData, "SACDText");
    uint8_t* text = m + kData;
    size_t at = 48;
    if (!o.discTitle.empty()) {
        PutBE(text + 32, at, 2);
        std::memcpy(text + at, o.discTitle.data(), o.discTitle.size());
        at += o.discTitle.size() + 1;
    }
    if (!o.discArtist.empty()) {
        PutBE(text + 34, at, 2);
        std::memcpy(text + at, o.discArtist.data(), o.discArtist.size());
    }
    PutSignature(m + 9 * kData, "SACD_Man");

    image.sectors = static_cast<int64_t>(disc.size() / kData);
    if (o.sectorSize == 2048) {
        image.bytes = std::move(disc);
        return true;
    }
    image.bytes.reserve(static_cast<size_t>(image.sectors) * 2064);
    for (int64_t s = 0; s < image.sectors; ++s) {
        uint8_t header[12];
        PutBE(header, static_cast<uint64_t>(s), 4);
        std::memset(header + 4, 0xEE, 8);
        image.bytes.insert(image.bytes.end(), header, header + 12);
        const auto* data = disc.data() + static_cast<size_t>(s) * kData;
        image.bytes.insert(image.bytes.end(), data, data + kData);
        image.bytes.insert(image.bytes.end(), 4, 0xDD);
    }
    return true;
}

}  // namespace dsdtools
