#include "dsdfile/CDSDFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pcm/ConvertToPCM.h"
#include "plugin/Settings.h"

namespace {

// The largest stretch one read of a byte-interleaved source moves; larger
// requests are served in several calls.
constexpr size_t kMaxInterleavedRead = size_t{1} << 26;
// One reader call moves at most this many bytes (the reader counts in i32).
constexpr size_t kMaxReaderChunk = size_t{1} << 30;

constexpr double kPackedScale = 1.0 / 8388608.0;  // 2^-23

}  // namespace

CDSDFile::CDSDFile() {
    // Walk a bit-reversed counter: toggle bits from the top down until one
    // turns from 0 to 1.
    unsigned e = 0;
    for (int i = 0; i < 256; ++i) {
        bitReverse_[i] = static_cast<uint8_t>(e);
        for (unsigned mask = 128; mask != 0; mask >>= 1) {
            e ^= mask;
            if (e & mask) break;
        }
    }
}

CDSDFile::~CDSDFile() {
    Close();
    DestroyDstStream();
    DestroySacd();
    blockBuffer_.Free();
    ReleaseReader();
}

bool CDSDFile::ReaderReady() const { return reader_ != nullptr && reader_->IsOpen(); }

void CDSDFile::ReleaseReader() {
    if (reader_ && (readerOwned_ & 1)) KwDestroy(reader_);
    reader_ = nullptr;
}

bool CDSDFile::IsDiscImage() const { return sourceKind_ == SourceKind::kSacd; }

uint64_t CDSDFile::MetadataOffset() const {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | dsfHeader_[20 + i];
    return value;
}

bool CDSDFile::Close() {
    ReleaseReader();
    if (convertContext_) {
        ReturnConvertContext(convertContext_);
        convertContext_ = nullptr;
    }
    blockBuffer_.Free();
    dataStart_ = 0;
    dataLength_ = 0;
    lsbFirst_ = 0;
    blockSizePerChannel_ = 1;
    DestroyDstStream();
    sourceKind_ = SourceKind::kNone;
    return true;
}

bool CDSDFile::Open(IKwReader* reader, uint8_t readerOwned, uint32_t outputModes, int32_t highestDsdRate,
                    const KwXMLFilename& fileName) {
    // Handing the held reader in again must not destroy it on the way.
    if (reader != nullptr && reader == reader_) reader_ = nullptr;
    Close();
    sourceFormat_.SetUp(1, 2822400, 2, 0, false, kGuidNull);
    std::memset(dsfHeader_, 0, sizeof(dsfHeader_));

    reader_ = reader;
    readerOwned_ = readerOwned;
    if (!ReaderReady()) return false;

    const KwString fileType = fileName.Items().GetString(KW_T("FileType"), nullptr);
    bool recognised = false;
    if (fileType == KW_T("dff")) {
        uint8_t head[16] = {};
        if (reader_->Seek(0, kKwSeekBegin) == 0 && reader_->Read(head, 16) == 16 &&
            std::memcmp(head, "FRM8", 4) == 0 && std::memcmp(head + 12, "DSD ", 4) == 0)
            recognised = OpenDsdiff();
        if (recognised) sourceKind_ = dstStream_ ? SourceKind::kDsdiffDst : SourceKind::kDsdiff;
    }
    if (!recognised && fileType == KW_T("dsf")) {
        recognised = OpenDsf();
        if (recognised) sourceKind_ = SourceKind::kDsf;
    }
    if (!recognised && (fileType == KW_T("sacd") || fileType == KW_T("iso"))) {
        const int32_t track = fileName.Items().GetInt(KW_T("PostExtensionData"), 1);
        reader_->Seek(0, kKwSeekBegin);
        recognised = OpenSacdTrack(track);
        if (recognised) sourceKind_ = SourceKind::kSacd;
    }
    if (!recognised) return false;

    ChooseOutputFormat(outputModes, highestDsdRate);
    if (!outputFormat_.IsNativeDsd() && !outputFormat_.IsPackedDsd()) {
        convertContext_ = TakeConvertContext(outputFormat_.Channels(), outputFormat_.SampleRate(),
                                             static_cast<uint32_t>(GetLowPassMode()));
        if (!convertContext_) {
            sourceKind_ = SourceKind::kNone;
            return false;
        }
    }
    BuildSpeakerMap();
    reader_->Seek(dataStart_, kKwSeekBegin);
    return true;
}

void CDSDFile::ChooseOutputFormat(uint32_t outputModes, int32_t highestDsdRate) {
    const uint32_t rate = sourceFormat_.SampleRate();
    const uint16_t channels = sourceFormat_.Channels();
    const bool rateAccepted = highestDsdRate == 0 || static_cast<int64_t>(highestDsdRate) >= rate;
    if ((outputModes & kOutputNativeDsd) && rateAccepted) {
        // Five channels travel as six; the missing low-frequency slot gets silence.
        outputFormat_.SetUp(8, rate / 8, channels == 5 ? 6 : channels, 0, true,
                            lsbFirst_ ? kGuidDsdLsbFirst : kGuidDsdMsbFirst);
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

size_t CDSDFile::FillBlockFromReader(size_t count) {
    blockBuffer_.Resize(count);
    size_t obtained = 0;
    // Readers may deliver less than asked; keep reading until the stretch is
    // complete or the reader has nothing more.
    while (obtained < count) {
        const size_t chunk = std::min(count - obtained, kMaxReaderChunk);
        const int32_t got = reader_->Read(blockBuffer_.Data() + obtained, static_cast<int32_t>(chunk));
        if (got <= 0) break;
        obtained += std::min(static_cast<size_t>(got), chunk);
    }
    blockBuffer_.Resize(obtained);
    return obtained;
}

uint32_t CDSDFile::OutputBytes(uint64_t frames) const {
    uint64_t bytes = outputFormat_.BlockAlign() != 0
                         ? uint64_t{outputFormat_.BlockAlign()} * frames
                         : uint64_t{outputFormat_.BitsPerSample()} * outputFormat_.Channels() * frames / 8;
    return static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX));
}

uint32_t CDSDFile::ReadSamples(void* destination, uint32_t frames) {
    if (!ReaderReady() || destination == nullptr || sourceKind_ == SourceKind::kNone) return 0;
    const uint32_t cs = sourceFormat_.Channels();
    const uint32_t co = outputFormat_.Channels();
    const uint64_t bitsPerFrame = sourceFormat_.BitsPerFrame();
    if (cs < 1 || cs > kAudioFormatMaxChannels || co < 1 || co > kAudioFormatMaxChannels || bitsPerFrame == 0)
        return 0;
    const bool packed = outputFormat_.IsPackedDsd();
    const bool planar = blockSizePerChannel_ > 1;

    uint64_t wanted = uint64_t{frames} * (packed ? 16 : 8) * bitsPerFrame / 8;
    uint64_t group = 0;
    if (planar) {
        // One block group per call. The caller's frames must hold the group's
        // output too (this matters for sources with more than one bit per sample).
        group = uint64_t(blockSizePerChannel_) * cs;
        const uint64_t groupFrames = packed ? blockSizePerChannel_ / 2 : blockSizePerChannel_;
        wanted = (wanted >= group && frames >= groupFrames) ? group : 0;
    } else {
        // Every `unit` bytes become one output frame, whatever the source's bits
        // per sample: never take more bytes than the caller's frames can hold.
        const uint64_t unit = packed ? 2ull * cs : cs;
        wanted = std::min<uint64_t>({wanted, uint64_t{frames} * unit, kMaxInterleavedRead / unit * unit});
    }

    // The data window bounds plain file bytes. A disc image ends its track
    // itself; a DST stream ends when its frames run out, and its decoded bytes
    // may still be waiting after the reader has passed the last frame.
    int64_t remaining = -1;
    if (sourceKind_ != SourceKind::kSacd && sourceKind_ != SourceKind::kDsdiffDst) {
        const int64_t position = reader_->GetPosition();
        remaining = dataStart_ + dataLength_ - position;
        remaining = std::clamp<int64_t>(remaining, 0, dataLength_);
        wanted = std::min<uint64_t>(wanted, static_cast<uint64_t>(remaining));
    }
    if (packed) wanted -= wanted % (2ull * cs);
    if (wanted < 1) return 0;
    // A partial last group is dropped; do not read it at all.
    if (planar && wanted != group) return 0;

    size_t obtained = 0;
    switch (sourceKind_) {
    case SourceKind::kSacd: obtained = FillBlockFromSacd(static_cast<size_t>(wanted)); break;
    case SourceKind::kDsdiffDst: obtained = FillBlockFromDst(static_cast<size_t>(wanted)); break;
    default: obtained = FillBlockFromReader(static_cast<size_t>(wanted)); break;
    }
    obtained = std::min(obtained, blockBuffer_.Size());
    if (obtained < 1) return 0;

    if (planar) return DeliverBlockPlanar(destination, obtained, remaining);
    return DeliverInterleaved(destination, obtained);
}

uint32_t CDSDFile::DeliverBlockPlanar(void* destination, size_t obtained, int64_t remaining) {
    const size_t cs = sourceFormat_.Channels();
    const size_t co = outputFormat_.Channels();
    const size_t blockSize = static_cast<size_t>(blockSizePerChannel_);
    if (obtained != blockSize * cs) return 0;
    const uint8_t* block = blockBuffer_.Data();

    size_t frames = blockSize;
    if (static_cast<int64_t>(obtained) == remaining) {
        // The group ends the data: drop the zero padding of the last blocks.
        for (size_t c = 0; c < cs; ++c)
            while (frames > 0 && block[c * blockSize + frames - 1] == 0) --frames;
    }

    if (outputFormat_.IsPackedDsd()) {
        const size_t packedFrames = frames / 2;
        auto* out = static_cast<double*>(destination);
        for (size_t p = 0; p < packedFrames; ++p) {
            for (size_t slot = 0; slot < co; ++slot) {
                const int source = speakerMap_[slot];
                uint32_t b1 = kDsdSilenceByte, b2 = kDsdSilenceByte;
                if (source >= 0) {
                    b1 = block[source * blockSize + 2 * p];
                    b2 = block[source * blockSize + 2 * p + 1];
                    if (lsbFirst_) {
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
        for (size_t slot = 0; slot < co; ++slot) {
            const int source = speakerMap_[slot];
            const uint8_t* in = source >= 0 ? block + source * blockSize : nullptr;
            for (size_t k = 0; k < frames; ++k) out[k * co + slot] = in ? in[k] : kDsdSilenceByte;
        }
        return OutputBytes(frames);
    }
    if (!convertContext_) return 0;
    ConvertToPCM(*convertContext_, block, frames, blockSize, 1, lsbFirst_ != 0, add6dB_ != 0,
                 static_cast<double*>(destination));
    return OutputBytes(frames);
}

uint32_t CDSDFile::DeliverInterleaved(void* destination, size_t obtained) {
    const size_t cs = sourceFormat_.Channels();
    const size_t co = outputFormat_.Channels();
    const uint8_t* buffer = blockBuffer_.Data();

    if (outputFormat_.IsPackedDsd()) {
        const size_t packedFrames = obtained / (2 * cs);
        auto* out = static_cast<double*>(destination);
        for (size_t p = 0; p < packedFrames; ++p) {
            const uint8_t* stretch = buffer + p * 2 * cs;
            for (size_t slot = 0; slot < co; ++slot) {
                const int source = speakerMap_[slot];
                uint32_t b1 = kDsdSilenceByte, b2 = kDsdSilenceByte;
                if (source >= 0) {
                    b1 = stretch[source];
                    b2 = stretch[source + cs];
                    if (lsbFirst_) {
                        b1 = bitReverse_[b1];
                        b2 = bitReverse_[b2];
                    }
                }
                out[p * co + slot] = static_cast<double>(b1 * 256 + b2) * kPackedScale;
            }
        }
        return OutputBytes(packedFrames);
    }

    // Frames per channel: one byte of each channel per frame (for 1-bit data
    // this is bytes x 8 / bits per frame / 8). Whole frames only, so no
    // channel reads past the data.
    const size_t frames = obtained / cs;
    if (frames == 0) return 0;
    if (outputFormat_.IsNativeDsd()) {
        auto* out = static_cast<uint8_t*>(destination);
        if (cs == co) {
            std::memcpy(out, buffer, frames * cs);
        } else {
            for (size_t k = 0; k < frames; ++k)
                for (size_t slot = 0; slot < co; ++slot) {
                    const int source = speakerMap_[slot];
                    out[k * co + slot] = source >= 0 ? buffer[k * cs + source] : kDsdSilenceByte;
                }
        }
        return OutputBytes(frames);
    }
    if (!convertContext_) return 0;
    ConvertToPCM(*convertContext_, buffer, frames, 1, cs, lsbFirst_ != 0, add6dB_ != 0,
                 static_cast<double*>(destination));
    return OutputBytes(frames);
}

bool CDSDFile::Seek(double milliseconds) {
    if (!ReaderReady()) return false;
    bool moved = true;
    if (sourceKind_ == SourceKind::kSacd) {
        moved = SeekSacd(milliseconds);
    } else {
        const double exact = static_cast<double>(sourceFormat_.AvgBytesPerSec()) * milliseconds / 1000.0 + 0.5;
        const int64_t groupBytes = int64_t{std::max<uint16_t>(sourceFormat_.Channels(), 1)} *
                                   std::max<int32_t>(blockSizePerChannel_, 1);
        // A DST stream's positions count decoded bytes, which the data window
        // (compressed bytes) does not bound; the frame skip stops at its end.
        const double limit =
            sourceKind_ == SourceKind::kDsdiffDst ? 4.0e18 : static_cast<double>(dataLength_);
        int64_t position = 0;
        bool pastEnd = false;
        if (!(exact > 0.0))  // negative times and NaN go to the start
            position = 0;
        else if (exact >= limit)
            pastEnd = true;
        else
            position = static_cast<int64_t>(exact);
        if (sourceFormat_.BlockAlign() != 0) position -= position % sourceFormat_.BlockAlign();

        if (sourceKind_ == SourceKind::kDsdiffDst) {
            moved = SeekDst(pastEnd ? INT64_MAX : position);
        } else {
            // Past the end the reader stands at the end of the data, so the next read returns 0.
            position = pastEnd ? dataLength_ : position - position % groupBytes;
            moved = reader_->Seek(dataStart_ + position, kKwSeekBegin) >= 0;
        }
    }
    if (convertContext_) ResetConvertContext(*convertContext_);
    return moved;
}

double CDSDFile::GetDuration() const {
    if (sourceKind_ == SourceKind::kSacd) return SacdDuration();
    if (sourceKind_ == SourceKind::kDsdiffDst) return DstDuration();
    const uint32_t bytesPerSecond = sourceFormat_.AvgBytesPerSec();
    if (bytesPerSecond == 0) return 0.0;
    return static_cast<double>(dataLength_) * 1000.0 / bytesPerSecond;
}
