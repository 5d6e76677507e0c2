#include "dsdfile/CDSDFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "pcm/ConvertToPCM.h"
#include "pcm/Dsd2Pcm.h"
#include "dsdfile/DsdWindowContainer.h"
#include "dsdfile/DsfContainer.h"
#include "dsdfile/PlanarInterleave.h"

namespace {

// The largest stretch one read of a byte-interleaved source moves; larger
// requests are served in several calls.
constexpr size_t kMaxInterleavedRead = size_t{1} << 26;

// Source bytes a planar source is asked for at once (whole groups, at least
// this many when the caller has room): as large as the container's
// read-ahead, so that the read goes straight into the block buffer.
constexpr size_t kPlanarRead = CDsdWindowContainer::kReadAhead;

constexpr double kPackedScale = 1.0 / 8388608.0;  // 2^-23

}  // namespace

CDSDFile::CDSDFile() = default;

CDSDFile::~CDSDFile() {
    Close();
    ReleaseReader();
}

bool CDSDFile::ReaderReady() const { return reader_ != nullptr && reader_->IsOpen(); }

void CDSDFile::ReleaseReader() {
    if (reader_ && (readerOwned_ & 1)) KwDestroy(reader_);
    reader_ = nullptr;
}

const uint8_t* CDSDFile::DsfHeader() const {
    static const uint8_t kNone[CDsfContainer::kHeaderSize] = {};
    return dsf_ ? dsf_->Header() : kNone;
}

uint64_t CDSDFile::MetadataOffset() const { return dsf_ ? dsf_->MetadataOffset() : 0; }

int64_t CDSDFile::DsfFileSize() const { return dsf_ ? dsf_->OpenedFileSize() : -1; }

bool CDSDFile::SaveTag(const uint8_t* tag, size_t size) {
    // Only a file recognised as DSF has a known audio window to protect.
    return ReaderReady() && dsf_ && dsf_->SaveTag(tag, size);
}

bool CDSDFile::Close() {
    ReleaseReader();
    if (convertContext_) {
        ReturnConvertContext(convertContext_);
        convertContext_ = nullptr;
    }
    container_.reset();
    dsf_ = nullptr;
    blockBuffer_.Free();
    pending_.Free();
    pendingOffset_ = 0;
    return true;
}

bool CDSDFile::Open(IKwReader* reader, uint8_t readerOwned, uint32_t outputModes, int32_t highestDsdRate,
                    const KwXMLFilename& fileName, const CDsdOpenOptions& options) {
    // Handing the held reader in again must not destroy it on the way.
    if (reader != nullptr && reader == reader_) reader_ = nullptr;
    Close();
    sourceFormat_.SetUp(1, 2822400, 2, 0, false, kGuidNull);

    reader_ = reader;
    readerOwned_ = readerOwned;
    if (!ReaderReady()) return false;

    const KwString fileType = fileName.Items().GetString(KW_T("FileType"), nullptr);
    std::unique_ptr<CDsdContainer> container;
    if (fileType == KW_T("dff"))
        container = MakeDsdiffContainer();
    else if (fileType == KW_T("dsf"))
        container = MakeDsfContainer();
    else if (fileType == KW_T("sacd") || fileType == KW_T("iso"))
        container = MakeSacdTrackContainer();
    if (!container || !container->Open(reader_, fileName, options, sourceFormat_)) return false;
    container_ = std::move(container);
    if (fileType == KW_T("dsf")) dsf_ = static_cast<CDsfContainer*>(container_.get());

    const uint16_t channels = sourceFormat_.Channels();
    if (channels < 1 || channels > kAudioFormatMaxChannels || sourceFormat_.BitsPerFrame() == 0) {
        Close();
        return false;
    }
    ChooseOutputFormat(outputModes, highestDsdRate);
    // Native output keeps the source's bit order; packed and PCM output read
    // least-significant-bit-first bytes through the reversal table. An open
    // for the header alone delivers no PCM (it has no conversion context), so
    // it does not build the tables (120 000 instructions, once per process).
    if (container_->LsbFirst() && !outputFormat_.IsNativeDsd() &&
        (outputFormat_.IsPackedDsd() || !options.headerOnly)) {
        EnsureDecimatorTables();
        bitReverse_ = dsd2pcm_bit_reverse();
    }
    if (!outputFormat_.IsNativeDsd() && !outputFormat_.IsPackedDsd() && !options.headerOnly) {
        convertContext_ = TakeConvertContext(outputFormat_.Channels(), outputFormat_.SampleRate(), options.lowPassMode);
        if (!convertContext_) {
            container_.reset();
            dsf_ = nullptr;
            return false;
        }
    }
    BuildSpeakerMap();
    container_->Seek(0.0);
    return true;
}

void CDSDFile::ChooseOutputFormat(uint32_t outputModes, int32_t highestDsdRate) {
    const uint32_t rate = sourceFormat_.SampleRate();
    const uint16_t channels = sourceFormat_.Channels();
    const bool rateAccepted = highestDsdRate == 0 || static_cast<int64_t>(highestDsdRate) >= rate;
    if ((outputModes & kOutputNativeDsd) && rateAccepted) {
        // Five channels travel as six; the missing low-frequency slot gets silence.
        outputFormat_.SetUp(8, rate / 8, channels == 5 ? 6 : channels, 0, true,
                            container_->LsbFirst() ? kGuidDsdLsbFirst : kGuidDsdMsbFirst);
    } else if ((outputModes & (kOutputPackedDsdA | kOutputPackedDsdB)) && rateAccepted &&
               (rate == 2822400 || rate == 5644800 || rate == 11289600)) {
        outputFormat_.SetUp(64, rate / 16, channels, 0, true,
                            (outputModes & kOutputPackedDsdB) ? kGuidPackedDsdB : kGuidPackedDsdA);
    } else {
        outputFormat_.SetUp(64, rate / 8, channels, 0, false, kGuidNull);
    }
}

void CDSDFile::BuildSpeakerMap() {
    // Each output slot takes the source channel with the same speaker
    // identifier. The same slot is preferred when it matches, so that tables
    // that repeat an identifier (slots 32 and up all carry 0) pass channels
    // straight through instead of feeding every repeat from the first one.
    const int outputs = std::min<int>(outputFormat_.Channels(), kAudioFormatMaxChannels);
    const int sources = std::min<int>(sourceFormat_.Channels(), kAudioFormatMaxChannels);
    for (int slot = 0; slot < kAudioFormatMaxChannels; ++slot) speakerMap_[slot] = -1;
    for (int slot = 0; slot < outputs; ++slot) {
        const uint32_t speaker = outputFormat_.Channel(slot).speaker;
        if (slot < sources && sourceFormat_.Channel(slot).present && sourceFormat_.Channel(slot).speaker == speaker)
            speakerMap_[slot] = static_cast<int8_t>(slot);
        else
            speakerMap_[slot] = static_cast<int8_t>(sourceFormat_.FindSpeaker(speaker));
    }
}

size_t CDSDFile::OutputFrameBytes() const { return OutputBytes(1); }

uint32_t CDSDFile::OutputBytes(uint64_t frames) const {
    uint64_t bytes = outputFormat_.BlockAlign() != 0
                         ? uint64_t{outputFormat_.BlockAlign()} * frames
                         : uint64_t{outputFormat_.BitsPerSample()} * outputFormat_.Channels() * frames / 8;
    return static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX));
}

uint32_t CDSDFile::ReadSamples(void* destination, uint32_t frames) {
    return ReadBytes(destination, OutputBytes(frames));
}

uint32_t CDSDFile::ReadBytes(void* destination, uint32_t count) {
    if (!ReaderReady() || destination == nullptr || !container_) return 0;
    const size_t frameBytes = OutputFrameBytes();
    if (frameBytes == 0) return 0;
    const size_t blockSize = container_->BlockSizePerChannel();
    const bool planar = blockSize > 1;
    // Output of one production: a whole group for planar sources, else one frame.
    const size_t unitBytes =
        planar ? OutputBytes(outputFormat_.IsPackedDsd() ? blockSize / 2 : blockSize) : frameBytes;
    auto* out = static_cast<uint8_t*>(destination);
    size_t done = 0;
    while (done < count) {
        if (pendingOffset_ < pending_.Size()) {
            const size_t n = std::min<size_t>(count - done, pending_.Size() - pendingOffset_);
            std::memcpy(out + done, pending_.Data() + pendingOffset_, n);
            pendingOffset_ += n;
            done += n;
            continue;
        }
        const size_t left = count - done;
        // Packed and PCM output are doubles: they are written in place only
        // where the host's buffer is aligned for them (an earlier part-frame
        // read may have left it otherwise).
        const bool aligned = outputFormat_.IsNativeDsd() ||
                             reinterpret_cast<uintptr_t>(out + done) % alignof(double) == 0;
        size_t made = 0;
        if (left >= unitBytes && aligned) {
            made = Produce(out + done, left / frameBytes);
            done += made;
        } else {
            // Less room than one production, or a misaligned buffer: make the
            // output aside and hand out the part that fits; the rest waits for
            // the next call.
            const size_t frames = planar ? 1 : std::max<size_t>(left / frameBytes, 1);
            pending_.Resize(planar ? unitBytes : frames * frameBytes);
            made = Produce(pending_.Data(), frames);
            pending_.Resize(made);
            pendingOffset_ = 0;
        }
        if (made == 0) break;
    }
    return static_cast<uint32_t>(done);
}

size_t CDSDFile::Produce(void* destination, uint64_t frames) {
    const size_t cs = sourceFormat_.Channels();
    const size_t co = outputFormat_.Channels();
    if (cs < 1 || cs > kAudioFormatMaxChannels || co < 1 || co > kAudioFormatMaxChannels) return 0;
    const size_t blockSize = container_->BlockSizePerChannel();
    if (blockSize > 1) {
        const size_t group = blockSize * cs;
        // As many whole groups as the caller has room for, up to one large
        // read: the reader then fills the block buffer directly (no copy
        // through the container's read-ahead) and the per-group work stays
        // in the cache.
        const uint64_t groupFrames = outputFormat_.IsPackedDsd() ? blockSize / 2 : blockSize;
        const size_t readGroups = std::max<size_t>((kPlanarRead + group - 1) / group, 1);
        const size_t groups = static_cast<size_t>(std::clamp<uint64_t>(frames / groupFrames, 1, readGroups));
        blockBuffer_.Resize(groups * group);
        const size_t got = container_->Fill(blockBuffer_.Data(), groups * group);
        const size_t whole = got / group;
        auto* out = static_cast<uint8_t*>(destination);
        size_t made = 0;
        for (size_t g = 0; g < whole; ++g) {
            const uint8_t* source = blockBuffer_.Data() + g * group;
            // Only the group that ends the data may carry padding.
            const bool last = g + 1 == whole && got % group == 0;
            const size_t audio = last ? container_->GroupFrames(source) : blockSize;
            made += Deliver(out + made, source, audio, blockSize, 1);
        }
        if (got % group != 0) {
            // A file cut short inside its last group: every channel plays as
            // far as the last one's block reaches, rather than losing the
            // whole group.
            const size_t tail = got % group;
            const size_t lastBlockStart = (cs - 1) * blockSize;
            made += Deliver(out + made, blockBuffer_.Data() + whole * group,
                            tail > lastBlockStart ? tail - lastBlockStart : 0, blockSize, 1);
        }
        return made;
    }
    // Every `unit` source bytes become one output frame, whatever the source's
    // bits per sample: never take more bytes than the caller's frames can hold.
    const uint64_t unit = outputFormat_.IsPackedDsd() ? 2ull * cs : cs;
    const uint64_t wanted = std::min<uint64_t>(frames * unit, kMaxInterleavedRead / unit * unit);
    if (wanted < 1) return 0;
    // Native output with as many channels as the source passes the bytes on
    // unchanged: the container puts them straight into the destination.
    const bool straight = outputFormat_.IsNativeDsd() && cs == co;
    uint8_t* target = straight ? static_cast<uint8_t*>(destination) : nullptr;
    if (!straight) {
        blockBuffer_.Resize(static_cast<size_t>(wanted));
        target = blockBuffer_.Data();
    }
    size_t obtained = container_->Fill(target, static_cast<size_t>(wanted));
    obtained = std::min(obtained, static_cast<size_t>(wanted));
    obtained -= obtained % unit;  // whole frames only, so no channel reads past the data
    if (straight) return OutputBytes(obtained / cs);
    return Deliver(destination, target, obtained / cs, 1, cs);
}

size_t CDSDFile::Deliver(void* destination, const uint8_t* source, size_t frames, size_t channelOffset,
                         size_t stride) {
    const size_t cs = sourceFormat_.Channels();
    const size_t co = outputFormat_.Channels();
    const bool lsbFirst = container_->LsbFirst();
    if (frames == 0) return 0;
    if (outputFormat_.IsPackedDsd()) {
        const size_t packedFrames = frames / 2;
        auto* out = static_cast<double*>(destination);
        for (size_t p = 0; p < packedFrames; ++p) {
            for (size_t slot = 0; slot < co; ++slot) {
                const int channel = speakerMap_[slot];
                uint32_t b1 = kDsdSilenceByte, b2 = kDsdSilenceByte;
                if (channel >= 0) {
                    const uint8_t* in = source + static_cast<size_t>(channel) * channelOffset;
                    b1 = in[2 * p * stride];
                    b2 = in[(2 * p + 1) * stride];
                    if (lsbFirst) {
                        b1 = bitReverse_[b1];
                        b2 = bitReverse_[b2];
                    }
                }
                out[p * co + slot] = static_cast<double>(b1 * 256 + b2) * kPackedScale;
            }
        }
        return OutputBytes(packedFrames);
    }
    if (outputFormat_.IsNativeDsd()) {
        auto* out = static_cast<uint8_t*>(destination);
        if (stride == cs && cs == co) {
            std::memcpy(out, source, frames * cs);  // interleaved straight through
        } else if (stride == 1 && co <= kAudioFormatMaxChannels) {
            // Planar blocks (DSF): one plane per output slot.
            const uint8_t* planes[kAudioFormatMaxChannels];
            for (size_t slot = 0; slot < co; ++slot) {
                const int channel = speakerMap_[slot];
                planes[slot] = channel >= 0 ? source + static_cast<size_t>(channel) * channelOffset : nullptr;
            }
            InterleavePlanes(planes, co, frames, kDsdSilenceByte, out);
        } else {
            for (size_t slot = 0; slot < co; ++slot) {
                const int channel = speakerMap_[slot];
                const uint8_t* in = channel >= 0 ? source + static_cast<size_t>(channel) * channelOffset : nullptr;
                for (size_t k = 0; k < frames; ++k) out[k * co + slot] = in ? in[k * stride] : kDsdSilenceByte;
            }
        }
        return OutputBytes(frames);
    }
    if (!convertContext_) return 0;
    ConvertToPCM(*convertContext_, source, frames, channelOffset, stride, lsbFirst, add6dB_ != 0,
                 static_cast<double*>(destination));
    return OutputBytes(frames);
}

bool CDSDFile::Seek(double milliseconds) {
    if (!ReaderReady() || !container_) return false;
    const bool moved = container_->Seek(milliseconds);
    pending_.Clear();
    pendingOffset_ = 0;
    if (convertContext_) ResetConvertContext(*convertContext_);
    return moved;
}

double CDSDFile::GetDuration() const { return container_ ? container_->Duration() : 0.0; }
