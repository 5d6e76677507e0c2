// CSacdIso: a Super Audio CD disc image (the disc's logical sectors one after
// the other, 2048 bytes each, or 2064 bytes with a 12-byte header and a 4-byte
// trailer around the data). Open reads the master table of contents, the
// master text, the manufacturer sector and both areas' tables of contents into
// one track list (every track of the first area, then every track of the
// second). The owner selects a track; ReadAudio then delivers that track's DSD
// bytes (interleaved by channel, earliest bit in bit 7), passing plain frames
// through and DST-coded frames through a CDstDecoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "plugin/kwapi/IKwReader.h"
#include "support/KwByteBuffer.h"
#include "support/KwTypes.h"

class CDstDecoder;

// The area header (first sector of an area's table of contents), as far as it
// is used.
struct SACD_AREA_TOC {
    char signature[8] = {};      // "TWOCHTOC" or "MULCHTOC"
    uint8_t channelCount = 0;    // offset 32
    uint8_t trackCount = 0;      // offset 69
    uint32_t audioFirstSector = 0;  // offset 72
    uint32_t audioLastSector = 0;   // offset 76, the last audio sector (inclusive)
};

// One packet of an audio sector.
struct SACD_AUDIO_PACKET_INFO {
    uint32_t frameStart = 0;  // 1 when the packet begins a frame
    uint32_t dataType = 0;    // 2 = audio
    uint32_t length = 0;      // bytes, 0..2047
};

class CSacdIso {
public:
    static constexpr int64_t kMasterTocSector = 510;
    static constexpr int32_t kSectorData = 2048;
    static constexpr uint32_t kSampleRate = 2822400;
    // Bytes per channel of one 1/75-second frame at the disc's rate.
    static constexpr uint32_t kFrameBytesPerChannel = kSampleRate / 8 / 75;
    // Channels a DST-coded track may have (the frame decoder's limit).
    static constexpr uint32_t kMaxDstChannels = 6;
    // Sectors of an area's table of contents that are read at most; the
    // parse needs only the first few, and a damaged size must not make the
    // image read (and hold) up to 128 MiB.
    static constexpr int64_t kMaxAreaTocSectors = 64;
    // Data type of audio packets.
    static constexpr uint32_t kAudioPacket = 2;

    struct CTrack {
        int64_t firstSector = 0;
        int64_t endSector = 0;     // one past the track's last sector
        double duration = 0.0;     // seconds
        KwString title;
        uint32_t channelCount = 0;
        // Not part of the track's window: where its area's audio ends (one
        // past the last audio sector) and which area (1 or 2) holds it. The
        // final frame of a track may end in the sectors after the window.
        int64_t areaEndSector = 0;
        uint32_t area = 0;
    };

    // `dstThreads`: worker setting of the DST pipeline (1 or more as given,
    // below 1 automatic), supplied by the owner.
    explicit CSacdIso(int32_t dstThreads = 0);
    ~CSacdIso();
    CSacdIso(const CSacdIso&) = delete;
    CSacdIso& operator=(const CSacdIso&) = delete;

    bool Open(IKwReader* reader);

    int32_t SectorSize() const { return m_sectorSize; }
    const KwString& DiscTitle() const { return m_discTitle; }
    const KwString& DiscArtist() const { return m_discArtist; }
    size_t TrackCount() const { return m_tracks.size(); }
    const CTrack& Track(size_t index) const { return m_tracks[index]; }
    const CTrack& CurrentTrack() const { return m_current; }

    // Makes track `index` (0-based) the current track (its sectors become the
    // window), drops all decoding state and places the reader at its first
    // sector. False for an index out of range, a track without sectors, or a
    // failed seek.
    bool SelectTrack(IKwReader* reader, size_t index);

    // Empties the packet list and places the reader at the sector's data.
    bool SeekToSector(IKwReader* reader, int64_t sector);
    // Drops the DST pipeline, the decoded bytes and the frame being assembled.
    void ResetDecoding();

    // Puts at most `wanted` bytes of the current track into `out` (emptied
    // first); true when it holds at least one byte.
    bool ReadAudio(IKwReader* reader, int64_t wanted, KwByteBuffer& out);

    // Whether the current track's audio sectors are DST-coded, judged from the
    // first of them that holds packets (a few are looked at); the reader is
    // left at the track's first sector.
    bool TrackIsDst(IKwReader* reader);

    // True once a DST-coded frame was met on a track with more channels than
    // the frame decoder handles; such a track delivers nothing.
    bool DstRefused() const { return m_dstRefused; }

private:
    // Table-of-contents reading (CSacdIso.cpp).
    bool FindMasterToc(IKwReader* reader, uint8_t* sector, int32_t& got);
    bool ReadSectorAt(IKwReader* reader, int64_t sector, uint8_t* data, int32_t& got);
    bool ReadAreaToc(IKwReader* reader, int64_t first, int64_t size);
    bool ParseAreaToc(uint32_t area);
    int64_t NextSector(IKwReader* reader) const;
    int64_t DataOffset(int64_t sector) const;
    bool InWindow(int64_t sector) const;

    // Audio extraction (SacdAudio.cpp).
    bool ReadNextSector(IKwReader* reader);
    bool ParseSector(int32_t got);
    void FillDecoded(IKwReader* reader, int64_t wanted);
    bool FinishFrame();
    void CollectDecoded(bool wait);
    void FinishFinalFrame(IKwReader* reader, bool lookBeyond);
    void CloseFrame();
    size_t FrameLimit() const;

    int32_t m_sectorSize = kSectorData;
    int32_t m_dstThreads = 0;
    KwString m_discArtist;
    KwString m_discTitle;
    std::vector<CTrack> m_tracks;
    CTrack m_current;
    bool m_windowSet = false;
    std::vector<uint8_t> m_toc;  // the area table of contents being parsed

    // Audio extraction state.
    std::vector<uint8_t> m_sector;  // current sector's data (bytes read)
    int64_t m_readOffset = 0;
    uint8_t m_sectorHeader = 0;
    std::vector<SACD_AUDIO_PACKET_INFO> m_packets;
    int32_t m_packetIndex = 0;
    KwByteBuffer m_decoded;
    KwByteBuffer m_frame;
    uint8_t m_inFrame = 0;
    uint8_t m_frameDst = 0;       // DST flag of the sector that started the frame
    bool m_trackEnded = false;    // the window's sectors are used up
    bool m_dstRefused = false;
    CDstDecoder* m_dst = nullptr;
    uint32_t m_dstOwned = 1;
    size_t m_dstInFlight = 0;     // frames submitted and not yet collected
};
