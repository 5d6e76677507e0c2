// The disc-image track container: track N of a Super Audio CD image (N from
// the file name's "PostExtensionData", default 1; both areas' tracks in one
// list) as byte-interleaved DSD, most significant bit first, plain or decoded
// from DST. Seeks go to a sector in proportion to the time; the duration is
// the track list's.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "dsdfile/DsdContainer.h"
#include "sacd/CSacdIso.h"

namespace {

class CSacdTrackContainer final : public CDsdContainer {
public:
    bool Open(IKwReader* reader, const KwXMLFilename& fileName, const CDsdOpenOptions& options,
              CAudioFormat& format) override {
        reader_ = reader;
        const int32_t track = fileName.Items().GetInt(KW_T("PostExtensionData"), 1);
        if (!reader_ || reader_->Seek(0, kKwSeekBegin) != 0) return false;
        iso_ = std::make_unique<CSacdIso>(options.dstThreads);
        if (!iso_->Open(reader_)) return false;
        if (track - 1 < 0 || static_cast<size_t>(track - 1) >= iso_->TrackCount()) return false;
        if (!iso_->SelectTrack(reader_, static_cast<size_t>(track - 1))) return false;
        const CSacdIso::CTrack& t = iso_->CurrentTrack();
        if (t.channelCount < 1) return false;
        // DST frames of more channels than the frame decoder handles cannot
        // be played: refuse the track rather than deliver nothing.
        if (t.channelCount > CSacdIso::kMaxDstChannels && iso_->TrackIsDst(reader_)) return false;
        // Rate 2822400 and 1 bit stay as the caller set them up. The track has
        // no data window: it ends where the image delivers nothing more.
        format.SetChannelCount(static_cast<uint16_t>(t.channelCount));
        return true;
    }

    size_t Fill(uint8_t* destination, size_t count) override {
        size_t done = 0;
        while (done < count && iso_->ReadAudio(reader_, static_cast<int64_t>(count - done), buffer_)) {
            const size_t n = std::min(buffer_.Size(), count - done);
            std::memcpy(destination + done, buffer_.Data(), n);
            done += n;
        }
        return done;
    }

    // The sector at the same fraction of the track as the time of its
    // duration; reading restarts at the first frame that begins there or later.
    bool Seek(double milliseconds) override {
        const CSacdIso::CTrack& t = iso_->CurrentTrack();
        if (!(t.duration > 0.0)) return true;
        const double sectors = static_cast<double>(t.endSector - t.firstSector);
        double offset = sectors / t.duration / 1000.0 * milliseconds;
        offset = std::isnan(offset) ? 0.0 : std::clamp(std::round(offset), 0.0, sectors);
        const bool moved = iso_->SeekToSector(reader_, t.firstSector + static_cast<int64_t>(offset));
        iso_->ResetDecoding();
        return moved;
    }

    double Duration() const override { return iso_ ? iso_->CurrentTrack().duration * 1000.0 : 0.0; }
    bool IsDiscImage() const override { return true; }

private:
    IKwReader* reader_ = nullptr;
    std::unique_ptr<CSacdIso> iso_;
    KwByteBuffer buffer_;
};

}  // namespace

std::unique_ptr<CDsdContainer> MakeSacdTrackContainer() { return std::make_unique<CSacdTrackContainer>(); }
