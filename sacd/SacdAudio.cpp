// CSacdIso audio extraction: audio sectors are split into packets, audio
// packets are joined into 1/75-second frames, plain frames are passed through
// and DST-coded frames go through the DST pipeline. Bytes beyond a request wait
// for the next one.
#include <algorithm>

#include "dst/DstPipeline.h"
#include "sacd/CSacdIso.h"

namespace {

// Sectors looked at past a track's window to complete its final frame (a
// frame of six plain channels spans about fourteen sectors).
constexpr int64_t kMaxTailSectors = 32;

}  // namespace

size_t CSacdIso::FrameLimit() const {
    // A plain frame holds exactly channels × 4704 bytes; a DST frame never
    // holds more than that plus its header. Anything larger is damage.
    const size_t channels = std::max<uint32_t>(m_current.channelCount, 1);
    return channels * kFrameBytesPerChannel + kSectorData;
}

void CSacdIso::ResetDecoding() {
    if (m_dstOwned) delete m_dst;
    m_dst = nullptr;
    m_dstOwned = 1;
    m_dstInFlight = 0;
    m_decoded.Clear();
    m_frame.Clear();
    m_inFrame = 0;
    m_frameDst = 0;
    m_trackEnded = false;
}

// Splits the sector held in m_sector (`got` bytes) into its packet list;
// false for a malformed sector (the list is then empty).
bool CSacdIso::ParseSector(int32_t got) {
    m_packets.clear();
    m_packetIndex = 0;
    m_readOffset = 0;
    if (got < 1) return false;
    const uint8_t* s = m_sector.data();
    m_sectorHeader = s[0];
    const uint32_t packetCount = m_sectorHeader >> 5;
    const uint32_t frameCount = (m_sectorHeader >> 2) & 7;
    const bool dst = (m_sectorHeader & 1) != 0;
    int64_t offset = 1;
    int64_t total = 0;
    for (uint32_t p = 0; p < packetCount; ++p) {
        if (offset + 2 > got) {
            m_packets.clear();
            return false;
        }
        SACD_AUDIO_PACKET_INFO info;
        info.frameStart = s[offset] >> 7;
        info.dataType = (s[offset] >> 3) & 7;
        info.length = static_cast<uint32_t>(s[offset] & 7) << 8 | s[offset + 1];
        total += info.length;
        m_packets.push_back(info);
        offset += 2;
    }
    offset += static_cast<int64_t>(frameCount) * (dst ? 4 : 3);
    if (offset > got || offset + total > got) {
        m_packets.clear();
        return false;
    }
    m_readOffset = offset;
    return true;
}

// Reads the sector after the reader's position when it lies in the track's
// window. A sector without packets is passed over. A malformed one is passed
// over too, after the frame being assembled is closed (its remaining packets
// are lost with the sector): the track goes on at the next frame start. A
// sector outside the window or one that cannot be read ends the track.
bool CSacdIso::ReadNextSector(IKwReader* reader) {
    for (;;) {
        m_packets.clear();
        m_packetIndex = 0;
        m_readOffset = 0;
        const int64_t sector = NextSector(reader);
        if (!InWindow(sector)) {
            FinishFinalFrame(reader, sector == m_current.endSector);
            return false;
        }
        m_sector.resize(kSectorData);
        int32_t got = 0;
        const bool read = ReadSectorAt(reader, sector, m_sector.data(), got);
        m_sector.resize(static_cast<size_t>(got));
        if (!read) {
            FinishFinalFrame(reader, false);
            return false;
        }
        if (!ParseSector(got)) {
            CloseFrame();
            continue;
        }
        if (!m_packets.empty()) return true;
    }
}

// Hands the assembled frame on: DST frames to the pipeline (made on the first
// one), plain frames to the decoded bytes. False when the frame cannot be
// decoded here (a DST track of more channels than the decoder handles).
bool CSacdIso::FinishFrame() {
    if (m_frameDst) {
        if (m_current.channelCount > kMaxDstChannels) {
            m_dstRefused = true;
            m_frame.Clear();
            return false;
        }
        if (!m_dst) {
            m_dst = new CDstDecoder(m_current.channelCount, kSampleRate, m_dstThreads);
            m_dstOwned = 1;
        }
        m_dst->SubmitFrame(m_frame);
        ++m_dstInFlight;
    } else {
        m_decoded.Append(m_frame.Data(), m_frame.Size());
    }
    m_frame.Clear();
    return true;
}

// The track's sectors are used up (or the next one is unusable) while a frame
// is being assembled. Its remaining packets may lie in the sectors after the
// window (the next track's first sector starts with them): with `lookBeyond`
// they are taken from there, up to the next frame start or the area's end.
// A DST frame is then complete; a plain frame is complete when it holds its
// full size or a frame start ended it. A complete frame is delivered, so a
// track does not lose its final 1/75 second.
void CSacdIso::FinishFinalFrame(IKwReader* reader, bool lookBeyond) {
    m_trackEnded = true;
    if (!m_inFrame || m_frame.Empty()) return;
    const size_t full = static_cast<size_t>(m_current.channelCount) * kFrameBytesPerChannel;
    bool started = false;
    bool damaged = false;
    for (int64_t s = m_current.endSector;
         lookBeyond && !started && !damaged && s < m_current.areaEndSector && s < m_current.endSector + kMaxTailSectors;
         ++s) {
        if (!m_frameDst && m_frame.Size() >= full) break;
        m_sector.resize(kSectorData);
        int32_t got = 0;
        const bool read = ReadSectorAt(reader, s, m_sector.data(), got);
        m_sector.resize(static_cast<size_t>(got));
        if (!read || !ParseSector(got)) break;
        for (const SACD_AUDIO_PACKET_INFO& p : m_packets) {
            if (p.dataType == kAudioPacket && p.frameStart) {
                started = true;
                break;
            }
            if (p.dataType == kAudioPacket) {
                if (m_frame.Size() + p.length > FrameLimit()) {
                    damaged = true;
                    break;
                }
                m_frame.Append(m_sector.data() + m_readOffset, p.length);
            }
            m_readOffset += p.length;
        }
    }
    m_packets.clear();
    m_packetIndex = 0;
    if (damaged) m_frame.Clear();
    if (started && !m_frame.Empty()) FinishFrame();
    CloseFrame();
}

// Ends the frame being assembled: delivered when it can be complete (a DST
// frame, whose decoder reports damage as a silent frame; a plain frame of its
// full size), dropped otherwise. Reading resumes at the next frame start.
void CSacdIso::CloseFrame() {
    const size_t full = static_cast<size_t>(m_current.channelCount) * kFrameBytesPerChannel;
    if (m_inFrame && !m_frame.Empty() && (m_frameDst || m_frame.Size() == full)) FinishFrame();
    m_frame.Clear();
    m_inFrame = 0;
}

// Collects the decoded frames at the head of the pipeline.
void CSacdIso::CollectDecoded(bool wait) {
    if (!m_dst) return;
    const size_t before = m_decoded.Size();
    m_dst->FetchDecoded(m_decoded, wait);
    const size_t frames = (m_decoded.Size() - before) / std::max<size_t>(m_dst->FrameOutputBytes(), 1);
    m_dstInFlight -= std::min(frames, m_dstInFlight);
}

void CSacdIso::FillDecoded(IKwReader* reader, int64_t wanted) {
    for (;;) {
        // Frames in the pipeline will cover the request: stop reading, so
        // that a seek does not throw away many frames decoded in advance.
        const size_t inFlight = m_dst ? m_dstInFlight * m_dst->FrameOutputBytes() : 0;
        if (static_cast<int64_t>(m_decoded.Size() + inFlight) >= wanted || m_dstRefused || m_trackEnded) break;
        if (m_packetIndex >= static_cast<int32_t>(m_packets.size())) {
            m_packetIndex = 0;
            if (!ReadNextSector(reader)) break;
        }
        const SACD_AUDIO_PACKET_INFO& p = m_packets[static_cast<size_t>(m_packetIndex)];
        const int64_t length = p.length;
        if (p.dataType == kAudioPacket) {
            if (p.frameStart) {
                if (!m_frame.Empty() && !FinishFrame()) break;
                m_inFrame = 1;
                m_frameDst = m_sectorHeader & 1;
            }
            if (m_inFrame) {
                if (m_readOffset + length > static_cast<int64_t>(m_sector.size())) {
                    m_packets.clear();
                    break;
                }
                if (m_frame.Size() + static_cast<size_t>(length) > FrameLimit()) {
                    // A frame that never ends: drop it and go on at the next
                    // frame start.
                    m_frame.Clear();
                    m_inFrame = 0;
                } else {
                    m_frame.Append(m_sector.data() + m_readOffset, static_cast<size_t>(length));
                }
            }
        }
        m_readOffset += length;
        ++m_packetIndex;
        CollectDecoded(false);
    }
}

bool CSacdIso::ReadAudio(IKwReader* reader, int64_t wanted, KwByteBuffer& out) {
    out.Clear();
    if (m_current.channelCount < 1 || !reader) return false;
    if (wanted < 1) return true;
    FillDecoded(reader, wanted);
    if (static_cast<int64_t>(m_decoded.Size()) < wanted) CollectDecoded(true);
    out.Swap(m_decoded);
    m_decoded.Clear();
    if (static_cast<int64_t>(out.Size()) > wanted) {
        m_decoded.Append(out.Data() + wanted, out.Size() - static_cast<size_t>(wanted));
        out.Resize(static_cast<size_t>(wanted));
    }
    return !out.Empty();
}

bool CSacdIso::TrackIsDst(IKwReader* reader) {
    bool dst = false;
    for (int64_t s = m_current.firstSector; s < m_current.endSector && s < m_current.firstSector + 8; ++s) {
        m_sector.resize(kSectorData);
        int32_t got = 0;
        const bool read = ReadSectorAt(reader, s, m_sector.data(), got);
        m_sector.resize(static_cast<size_t>(got));
        if (!read) break;
        if (ParseSector(got) && !m_packets.empty()) {
            dst = (m_sectorHeader & 1) != 0;
            break;
        }
    }
    SeekToSector(reader, m_current.firstSector);
    return dst;
}
