#include "plugin/DSDFileInfo.h"

#include "plugin/Settings.h"
#include "plugin/SharedToolsHelper.h"
#include "support/KwNumbers.h"

namespace {

bool Answer(IKwDllString* result, const KwString& text) {
    if (result) result->SetText(text.c_str(), static_cast<int32_t>(text.size()));
    return true;
}

bool Equals(const KwChar* a, const KwChar* b) { return a && KwStringView(a) == KwStringView(b); }

}  // namespace

CDSDFileInfo::~CDSDFileInfo() {
    Close();
}

bool CDSDFileInfo::GetProperty(const KwChar* name, IKwDllString* result) {
    if (!file_ || !name) return false;
    const CAudioFormat& format = file_->SourceFormat();
    if (Equals(name, KW_T("Bitrate")))
        return Answer(result, KwFormatInt32(static_cast<int32_t>(format.AvgBytesPerSec() * 8u) / 1000));
    if (Equals(name, KW_T("Duration"))) return Answer(result, KwFormatDouble(file_->GetDuration() / 1000.0));
    if (Equals(name, KW_T("Channels"))) return Answer(result, KwFormatInt32(format.Channels()));
    if (Equals(name, KW_T("Sample Rate"))) return Answer(result, KwFormatInt64(format.SampleRate()));
    if (Equals(name, KW_T("Bit Depth"))) return Answer(result, KwFormatInt32(format.BitsPerSample()));
    if (Equals(name, KW_T("Compression"))) return Answer(result, KW_T("DSD"));
    if (Equals(name, KW_T("UITS Media Hash Byte Range"))) {
        if (file_->DataLength() < 1) return Answer(result, KwString());
        return Answer(result, KwFormatInt64(file_->DataStart()) + KW_T("-") +
                                  KwFormatInt64(file_->DataStart() + file_->DataLength()));
    }
    if (KwEqualsNoCase(name, KW_T("Support Tag Writing"))) return Answer(result, KW_T("0"));
    // Tag fields: no tag object is kept by this object yet.
    return false;
}

bool CDSDFileInfo::SetProperty(const KwChar*, const KwChar*) { return false; }

bool CDSDFileInfo::GetTagSummary(IKwDllString* result) { return Answer(result, KW_T("ID3v2 Tag: none")); }

bool CDSDFileInfo::Open(const KwChar* fileName) {
    fileName_ = KwXMLFilename(fileName);
    file_ = std::make_unique<CDSDFile>();
    IKwReader* reader = CKwSharedToolsHelper::Instance().CreateGenericReader(fileName_.ToText().c_str());
    if (reader) reader->Open();
    CDsdOpenOptions options;
    options.dstThreads = GetDstDecodingThreads();
    options.lowPassMode = static_cast<uint32_t>(GetLowPassMode());
    return file_->Open(reader, 1, 0, 0, fileName_, options);
}

bool CDSDFileInfo::Close() {
    dirty_ = false;
    file_.reset();
    return true;
}

int32_t CDSDFileInfo::RemoveTag(int32_t kind) {
    if (kind == 1) return 0;
    return -1;  // kind 0 needs a tag object; others are not known
}
