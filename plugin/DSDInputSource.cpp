#include "plugin/DSDInputSource.h"

#include <cmath>

#include "plugin/ConfigWindow.h"
#include "plugin/Settings.h"
#include "plugin/SharedToolsHelper.h"
#include "plugin/WrappingReader.h"
#include "support/KwBase64.h"
#include "support/KwDllString.h"
#include "support/KwNumbers.h"
#include "tags/KwXMLFilename.h"

namespace {

void SetAnswer(IKwDllString* result, const KwString& text) {
    result->SetText(text.c_str(), static_cast<int32_t>(text.size()));
}

}  // namespace

int64_t FrameBits(const CAudioFormat& format) {
    if (format.BlockAlign() != 0) return int64_t{format.BlockAlign()} * 8;
    const int64_t bits = int64_t{format.BitsPerSample()} * format.Channels();
    return bits != 0 ? bits : 8;
}

CDSDInputSource::~CDSDInputSource() {
    // The file borrows the reader, so it goes first.
    if (file_) {
        file_->Close();
        ReplaceFile(nullptr);
    }
    buffer_.reset();
    DestroyReader();
}

void CDSDInputSource::ReplaceFile(CDSDFile* file) {
    if (!fileOwned_) (void)file_.release();
    file_.reset(file);
    fileOwned_ = 1;
}

int32_t CDSDInputSource::Open(const KwChar* fileName) {
    KwXMLFilename name(fileName);
    // A second Open starts where a new input source starts: the earlier file
    // object, the reader it borrowed and every answer of the first Open go.
    if (file_) file_->Close();
    ReplaceFile(nullptr);
    DestroyReader();
    buffer_.reset();
    bitRate_ = sampleRate_ = bitsPerSample_ = channels_ = -1;
    length_ = duration_ = -1;
    fromMemory_ = 0;
    endOfData_ = 0;
    readOffset_ = 0;
    bufferCapacity_ = 1;
    bufferFill_ = 0;

    IKwReader* reader = host_ ? host_->CreateReader(name.FileName().c_str(), 0, readerOpenFlags_) : nullptr;
    if (!reader) return -1;
    reader_ = reader;
    reader_->SetOption(KW_T("READ_ONLY"), KW_T("1"));
    reader_->SetOption(KW_T("Set Support ICY Metadata"), supportIcyMetadata_ ? KW_T("1") : KW_T(""));
    if (!reader_->Open()) return -1;
    buffer_ = std::make_unique<uint8_t[]>(static_cast<size_t>(bufferCapacity_));

    reader_ = SelectReader(reader_, name.FileName(), fromMemory_);

    ReplaceFile(new CDSDFile());
    file_->SetAdd6dB(GetAdd6dB());
    CDsdOpenOptions options;
    options.dstThreads = GetDstDecodingThreads();
    options.lowPassMode = static_cast<uint32_t>(GetEffectiveLowPassMode());
    if (!file_->Open(reader_, 0, static_cast<uint32_t>(outputModes_), highestDsdRate_, name, options)) return -1;

    const CAudioFormat& output = file_->OutputFormat();
    const CAudioFormat& source = file_->SourceFormat();
    channels_ = output.Channels();
    sampleRate_ = static_cast<int32_t>(output.SampleRate());
    bitsPerSample_ = output.BitsPerSample();
    bitRate_ = static_cast<int32_t>(static_cast<int64_t>(source.AvgBytesPerSec()) * 8 / 1000);

    if (name.Items().GetString(KW_T("FileType"), nullptr) == KW_T("dff")) {
        length_ = static_cast<int64_t>(std::llround(file_->GetDuration() * 8.0 * sampleRate_ / 1000.0));
    } else if (file_->IsDiscImage()) {
        length_ = 0;
    } else {
        length_ = file_->DataLength() * 8 / FrameBits(source);
    }
    duration_ = static_cast<int64_t>(file_->GetDuration());
    return 0;
}

int32_t CDSDInputSource::GetInfo(int32_t code, IKwDllString* result) {
    if (!result) return -1;
    switch (code) {
        case 0:
            SetAnswer(result, KwFormatInt32(bitRate_));
            return 0;
        case 1:
            SetAnswer(result, KwFormatInt64(duration_));
            return 0;
        case 2:
            SetAnswer(result, KW_T("DSD input plug-in"));
            return 0;
        case 4:
            SetAnswer(result, KW_T("DFF; Direct Stream Digital Interchange File Format (*.dff);"
                                   "DSF; Direct Stream Digital Stream File (*.dsf);"
                                   "SACD; Super Audio CD ISO (*.sacd)"));
            return 0;
        case 8:
            SetAnswer(result, KwFormatInt32(sampleRate_));
            return 0;
        case 9:
            SetAnswer(result, KwFormatInt32(channels_));
            return 0;
        case 10:
            SetAnswer(result, KwFormatInt32(bitsPerSample_));
            return 0;
        case 12:
            SetAnswer(result, KwFormatInt64(length_));
            return 0;
        case 24:
            SetAnswer(result, KW_T("4"));
            return 0;
        case 27:
            SetAnswer(result, KW_T("1"));
            return 0;
        case 28:
            SetAnswer(result, KwFormatInt32(extraValue_));
            return 0;
        case 30: {
            if (!file_) return -1;
            const CAudioFormat& output = file_->OutputFormat();
            SetAnswer(result, KwBase64Encode(output.Bytes(), CAudioFormat::kSize));
            return 0;
        }
        case 34:
            SetAnswer(result, KwFormatInt32(fromMemory_));
            return 0;
        case 35:
            return LowPassStatus(result);
        default:
            return -1;
    }
}

int32_t CDSDInputSource::LowPassStatus(IKwDllString* result) {
    if (!file_ || outputModes_ != 0) return 0;
    KwString text;
    switch (GetEffectiveLowPassMode()) {
        case 0:
            text = KW_T("Safe low-pass filter enabled");
            break;
        case 1:
            text = KW_T("Medium low-pass filter enabled");
            break;
        case 2:
            text = KW_T("Permissive low-pass filter enabled");
            break;
        default:
            return 0;
    }
    CKwSharedToolsHelper& helper = CKwSharedToolsHelper::Instance();
    if (helper.IsToolsLoaded()) {
        if (IKwTools* tools = helper.GetTools()) {
            if (IKwTranslator* translator = tools->GetTranslator(true)) {
                KwDllString translated(text);
                translator->Translate(&translated);
                text = translated.Text();
            }
        }
    }
    SetAnswer(result, text);
    return 0;
}

int32_t CDSDInputSource::SetInfo(int32_t code, const KwChar* value) {
    const KwStringView text = value ? KwStringView(value) : KwStringView();
    switch (code) {
        case 3: {
            // Seeking needs an opened file; without one the seek fails.
            if (!file_ || !file_->Seek(KwParseDouble(text))) return -1;
            ResetBuffer();
            return 0;
        }
        case 31:
            outputModes_ = KwParseInt32(text);
            return -1;
        case 32:
            highestDsdRate_ = KwParseInt32(text);
            return -1;
        case 33:
            readerOpenFlags_ = KwParseInt32(text);
            return 0;
        default:
            return -1;
    }
}

int32_t CDSDInputSource::DoCommand(int32_t code) {
    switch (code) {
        case 1:
            RunConfigWindow();
            return 0;
        case 2:
            if (reader_ && reader_->HasCapability(kKwCapabilityAbort)) {
                reader_->Abort();
                return 0;
            }
            return -1;
        case 4:
            return 1;
        default:
            return -1;
    }
}

int32_t CDSDInputSource::Read(void* destination, int32_t count) {
    // Reading needs an opened file; without one nothing is delivered.
    if (!file_ || !destination || count <= 0) return 0;
    // The bytes asked for, also parts of a frame: a host may read in any
    // size, and a short answer would read as the end of the stream.
    return static_cast<int32_t>(file_->ReadBytes(destination, static_cast<uint32_t>(count)));
}
