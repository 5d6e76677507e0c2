// CSacdIso: sector geometry, the master table of contents, master text,
// manufacturer sector and the areas' tables of contents with their track
// lists and track text.
#include "sacd/CSacdIso.h"

#include <algorithm>
#include <cstring>

#include "dst/DstPipeline.h"

namespace {

uint32_t Be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

bool HasSignature(const uint8_t* p, size_t available, const char* signature) {
    return available >= 8 && std::memcmp(p, signature, 8) == 0;
}

// Disc text: UTF-8 sequences of one to three bytes become their character;
// any byte that does not start such a sequence stands for the character of
// the same value (older discs carry Latin-1 text).
KwString DiscText(const uint8_t* p, size_t n) {
    KwString out;
    size_t i = 0;
    while (i < n) {
        const uint8_t c = p[i];
        if (c >= 0xC0 && c < 0xE0 && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
            const uint32_t v = (c & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu);
            if (v >= 0x80) {
                out.push_back(static_cast<KwChar>(v));
                i += 2;
                continue;
            }
        } else if (c >= 0xE0 && c < 0xF0 && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
            const uint32_t v = (c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
            if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF)) {
                out.push_back(static_cast<KwChar>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(static_cast<KwChar>(c));
        ++i;
    }
    return out;
}

// Text from `start` up to the next NUL before `end`; empty when there is none.
KwString TextUpToNul(const uint8_t* base, size_t start, size_t end) {
    if (start >= end) return KwString();
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(base + start, 0, end - start));
    if (!nul) return KwString();
    return DiscText(base + start, static_cast<size_t>(nul - (base + start)));
}

}  // namespace

CSacdIso::CSacdIso(int32_t dstThreads) : m_dstThreads(dstThreads) {}

CSacdIso::~CSacdIso() {
    if (m_dstOwned) delete m_dst;
    m_dst = nullptr;
}

int64_t CSacdIso::DataOffset(int64_t sector) const {
    return m_sectorSize == 2064 ? 2064 * sector + 12 : int64_t{kSectorData} * sector;
}

int64_t CSacdIso::NextSector(IKwReader* reader) const {
    const int64_t offset = m_sectorSize == 2064 ? 12 : 0;
    const int64_t rel = reader->GetPosition() - offset;
    if (rel <= 0) return 0;
    return (rel + m_sectorSize - 1) / m_sectorSize;
}

bool CSacdIso::InWindow(int64_t sector) const {
    if (!m_windowSet) return true;
    return sector >= m_current.firstSector && sector < m_current.endSector;
}

bool CSacdIso::SeekToSector(IKwReader* reader, int64_t sector) {
    m_packets.clear();
    m_packetIndex = 0;
    m_trackEnded = false;
    if (!reader || sector < 0 || sector > (INT64_MAX - 12) / 2064) return false;
    const int64_t at = DataOffset(sector);
    return reader->Seek(at, kKwSeekBegin) == at;
}

// Places the reader at the sector's data and reads up to 2048 bytes (in as
// many reads as the reader needs); true when at least one byte came.
bool CSacdIso::ReadSectorAt(IKwReader* reader, int64_t sector, uint8_t* data, int32_t& got) {
    got = 0;
    if (sector < 0 || sector > (INT64_MAX - 12) / 2064) return false;
    const int64_t at = DataOffset(sector);
    if (reader->Seek(at, kKwSeekBegin) != at) return false;
    while (got < kSectorData) {
        const int32_t n = reader->Read(data + got, kSectorData - got);
        if (n <= 0 || n > kSectorData - got) break;
        got += n;
    }
    return got > 0;
}

bool CSacdIso::FindMasterToc(IKwReader* reader, uint8_t* sector, int32_t& got) {
    for (const int32_t size : {2048, 2064}) {
        m_sectorSize = size;
        if (ReadSectorAt(reader, kMasterTocSector, sector, got) && HasSignature(sector, got, "SACDMTOC")) return true;
    }
    m_sectorSize = kSectorData;
    return false;
}

bool CSacdIso::Open(IKwReader* reader) {
    m_tracks.clear();
    m_discArtist.clear();
    m_discTitle.clear();
    m_current = CTrack();
    m_windowSet = false;
    ResetDecoding();
    m_dstRefused = false;
    if (!reader || !reader->IsOpen()) return false;

    std::vector<uint8_t> sector(kSectorData);
    int32_t got = 0;
    if (!FindMasterToc(reader, sector.data(), got) || got < 168) return false;
    uint8_t mtoc[168];
    std::memcpy(mtoc, sector.data(), sizeof mtoc);
    if (mtoc[8] > 1 || mtoc[9] > 20) return false;

    for (int k = 0; k < 8; ++k) {
        if (!ReadSectorAt(reader, kMasterTocSector + 1 + k, sector.data(), got) || got < kSectorData ||
            !HasSignature(sector.data(), static_cast<size_t>(got), "SACDText"))
            return false;
        if (k == 0) {
            const uint32_t titleAt = Be16(sector.data() + 32);
            const uint32_t artistAt = Be16(sector.data() + 34);
            if (artistAt >= 48) m_discArtist = TextUpToNul(sector.data(), artistAt, kSectorData);
            if (titleAt >= 48) m_discTitle = TextUpToNul(sector.data(), titleAt, kSectorData);
        }
    }
    if (!ReadSectorAt(reader, kMasterTocSector + 9, sector.data(), got) || got < kSectorData ||
        !HasSignature(sector.data(), static_cast<size_t>(got), "SACD_Man"))
        return false;

    const uint32_t area1 = Be32(mtoc + 64), area2 = Be32(mtoc + 72);
    const uint32_t size1 = Be16(mtoc + 84), size2 = Be16(mtoc + 86);
    if (area1 != 0) {
        if (!ReadAreaToc(reader, area1, size1) || !ParseAreaToc(1)) return false;
    }
    if (area2 != 0 && ReadAreaToc(reader, area2, size2)) {
        if (!ParseAreaToc(2)) return false;
    }
    m_toc.clear();
    m_toc.shrink_to_fit();
    if (m_tracks.empty()) return false;

    m_current.firstSector = m_tracks.front().firstSector;
    m_current.endSector = m_tracks.back().endSector;
    m_current.areaEndSector = m_current.endSector;
    m_windowSet = true;
    SeekToSector(reader, m_current.firstSector);
    return true;
}

bool CSacdIso::ReadAreaToc(IKwReader* reader, int64_t first, int64_t size) {
    m_toc.clear();
    const int64_t sectors = std::min(size, kMaxAreaTocSectors);
    uint8_t data[kSectorData];
    for (int64_t k = 0; k < sectors; ++k) {
        int32_t got = 0;
        if (!ReadSectorAt(reader, first + k, data, got)) return false;
        m_toc.insert(m_toc.end(), data, data + got);
    }
    return true;
}

bool CSacdIso::ParseAreaToc(uint32_t area) {
    const std::vector<uint8_t>& b = m_toc;
    if (b.size() < static_cast<size_t>(kSectorData)) return false;
    if (!HasSignature(b.data(), b.size(), "TWOCHTOC") && !HasSignature(b.data(), b.size(), "MULCHTOC")) return false;
    SACD_AREA_TOC header;
    std::memcpy(header.signature, b.data(), 8);
    header.channelCount = b[32];
    header.trackCount = b[69];
    header.audioFirstSector = Be32(b.data() + 72);
    header.audioLastSector = Be32(b.data() + 76);
    // Offset 76 holds the area's last audio sector, inclusive: the last track
    // ends one sector after it (reading it as the end would drop the last
    // sector of the area's last track).
    const int64_t areaEnd = int64_t{header.audioLastSector} + 1;

    std::vector<CTrack> tracks(header.trackCount);
    const size_t count = tracks.size();
    bool textRead = false;
    size_t at = kSectorData;
    while (at < b.size()) {
        const uint8_t* s = b.data() + at;
        const size_t avail = b.size() - at;
        if (HasSignature(s, avail, "SACDTRL1")) {
            for (size_t t = 0; t < count; ++t) {
                const size_t startAt = 8 + 4 * t, lengthAt = 1028 + 4 * t;
                if (lengthAt + 4 > avail) break;
                CTrack& tr = tracks[t];
                tr.firstSector = Be32(s + startAt);
                tr.endSector = tr.firstSector + Be32(s + lengthAt);
                if (t == 0) {
                    tr.firstSector = header.audioFirstSector;
                } else if (t == count - 1) {
                    tr.endSector = areaEnd;
                }
                if (t > 0 && tracks[t - 1].endSector < tr.firstSector) tracks[t - 1].endSector = tr.firstSector;
            }
            at += kSectorData;
        } else if (HasSignature(s, avail, "SACDTRL2")) {
            for (size_t t = 0; t < count && 1028 + 4 * t + 4 <= avail; ++t) {
                const uint8_t* d = s + 1028 + 4 * t;
                tracks[t].duration = d[0] * 60.0 + d[1] + d[2] / 75.0;
            }
            at += kSectorData;
        } else if (HasSignature(s, avail, "SACDTTxt")) {
            if (!textRead) {
                textRead = true;
                for (size_t t = 0; t < count && 8 + 2 * t + 2 <= avail; ++t) {
                    const size_t pos = Be16(s + 8 + 2 * t);
                    if (pos == 0 || pos >= avail) continue;
                    const uint32_t items = s[pos];
                    size_t item = pos + 4;
                    for (uint32_t k = 0; k < items && item + 2 <= avail; ++k) {
                        const uint8_t type = s[item];
                        const uint8_t* text = s + item + 2;
                        const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(text, 0, avail - item - 2));
                        if (!nul) break;
                        if (type == 1) tracks[t].title = DiscText(text, static_cast<size_t>(nul - text));
                        item = static_cast<size_t>(nul - s) + 1;
                    }
                }
            }
            at += kSectorData;
        } else if (HasSignature(s, avail, "SACD_IGL")) {
            at += 2 * kSectorData;
        } else if (HasSignature(s, avail, "SACD_ACC")) {
            at += 32 * kSectorData;
        } else {
            break;
        }
    }
    // With a single track the first-track rule alone applies (its end comes
    // from its own length); the area end still bounds where its final frame
    // may be completed.
    // No track reads past its area's audio (a damaged track list must not
    // make it play the table of contents or the other area).
    for (CTrack& tr : tracks) {
        if (tr.endSector > areaEnd) tr.endSector = std::max(areaEnd, tr.firstSector);
        tr.channelCount = header.channelCount;
        tr.areaEndSector = areaEnd;
        tr.area = area;
    }
    m_tracks.insert(m_tracks.end(), tracks.begin(), tracks.end());
    return true;
}

bool CSacdIso::SelectTrack(IKwReader* reader, size_t index) {
    if (index >= m_tracks.size()) return false;
    const CTrack& tr = m_tracks[index];
    if (tr.endSector <= tr.firstSector || tr.firstSector < 0) return false;
    m_current = tr;
    m_windowSet = true;
    m_dstRefused = false;
    ResetDecoding();
    return SeekToSector(reader, tr.firstSector);
}
