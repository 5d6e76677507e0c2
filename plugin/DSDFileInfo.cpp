#include "plugin/DSDFileInfo.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "plugin/SharedToolsHelper.h"
#include "support/KwNumbers.h"

namespace {

// Largest tag block read: a synchsafe tag size, its header and a footer.
constexpr int64_t kMaxTagBlock = (int64_t{1} << 28) + 20;

bool Answer(IKwDllString* result, const KwString& text) {
    if (result) result->SetText(text.c_str(), static_cast<int32_t>(text.size()));
    return true;
}


// Reads exactly `count` bytes from the reader's position.
bool ReadExactly(IKwReader* reader, uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count) {
        const auto want = static_cast<int32_t>(std::min<size_t>(count - done, 1 << 20));
        const int32_t got = reader->Read(out + done, want);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

bool WriteExactly(IKwReader* reader, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const auto chunk = static_cast<int32_t>(std::min<size_t>(count - done, 1 << 20));
        if (reader->Write(bytes + done, chunk) != chunk) return false;
        done += static_cast<size_t>(chunk);
    }
    return true;
}

}  // namespace

CDSDFileInfo::~CDSDFileInfo() {
    Close();
}

bool CDSDFileInfo::GetProperty(const KwChar* name, IKwDllString* result) {
    if (!file_ || !name) return false;
    static constexpr KwStringView kBitrate = KW_T("Bitrate"), kDuration = KW_T("Duration"),
                                  kChannels = KW_T("Channels"), kSampleRate = KW_T("Sample Rate"),
                                  kBitDepth = KW_T("Bit Depth"), kCompression = KW_T("Compression"),
                                  kByteRange = KW_T("UITS Media Hash Byte Range"),
                                  kTagWriting = KW_T("Support Tag Writing");
    const KwStringView n(name);
    // Most field names share no length with a fixed name: the length rules
    // them out before any text is compared.
    constexpr uint32_t kFixedLengths = [] {
        uint32_t mask = 0;
        for (const KwStringView fixed :
             {kBitrate, kDuration, kChannels, kSampleRate, kBitDepth, kCompression, kByteRange, kTagWriting})
            mask |= 1u << fixed.size();
        return mask;
    }();
    if (n.size() >= 32 || !(kFixedLengths & (1u << n.size()))) return AnswerFromTag(n, result);
    const CAudioFormat& format = file_->SourceFormat();
    if (n == kBitrate)
        return Answer(result, KwFormatInt32(static_cast<int32_t>(format.AvgBytesPerSec() * 8u) / 1000));
    if (n == kDuration) return Answer(result, KwFormatDouble(file_->GetDuration() / 1000.0));
    if (n == kChannels) return Answer(result, KwFormatInt32(format.Channels()));
    if (n == kSampleRate) return Answer(result, KwFormatInt64(format.SampleRate()));
    if (n == kBitDepth) return Answer(result, KwFormatInt32(format.BitsPerSample()));
    if (n == kCompression) return Answer(result, KW_T("DSD"));
    if (n == kByteRange) {
        // 64-bit offsets: a file above 2 GiB gets its true byte range.
        if (file_->DataLength() < 1) return Answer(result, KwString());
        return Answer(result, KwFormatInt64(file_->DataStart()) + KW_T("-") +
                                  KwFormatInt64(file_->DataStart() + file_->DataLength()));
    }
    if (KwEqualsNoCase(n, kTagWriting)) return Answer(result, tag_ ? KW_T("1") : KW_T("0"));
    return AnswerFromTag(n, result);
}

bool CDSDFileInfo::AnswerFromTag(KwStringView name, IKwDllString* result) {
    if (!tag_) return false;
    bool found = false;
    if (!tag_->GetField(name, result, &found)) return false;
    return found;
}

bool CDSDFileInfo::SetProperty(const KwChar* name, const KwChar* value) {
    if (!tag_ || !name) return false;
    const bool changed = tag_->StoreField(name, value ? KwStringView(value) : KwStringView());
    if (changed) dirty_ = true;
    return changed;
}

bool CDSDFileInfo::GetTagSummary(IKwDllString* result) {
    KwString text;
    if (!tag_) {
        text = KW_T("ID3v2 Tag: none\r\n");
    } else {
        const uint8_t major = tag_->MajorVersion();
        text = major == 3 ? KW_T("ID3v2.3") : major == 4 ? KW_T("ID3v2.4") : KW_T("ID3v2");
        text += KW_T(" Tag: (");
        text += KwFormatInt64(static_cast<int64_t>(tag_->RawLength()));
        text += KW_T(" bytes)\r\n");
        constexpr KwStringView kIndent = KW_T("  "), kLineEnd = KW_T("\r\n");
        text.reserve(64 * (tag_->FrameCount() + 1));
        for (size_t i = 0; i < tag_->FrameCount(); ++i) {
            const size_t mark = text.size();
            text += kIndent;
            tag_->AppendFrameDisplayText(i, text);
            if (text.size() == mark + kIndent.size()) {
                text.resize(mark);  // an empty line is left out
                continue;
            }
            text += kLineEnd;
        }
    }
    while (!text.empty() && (text.back() == KW_T('\r') || text.back() == KW_T('\n'))) text.pop_back();
    return Answer(result, text);
}

bool CDSDFileInfo::Open(const KwChar* fileName) {
    fileName_.Assign(fileName ? KwStringView(fileName) : KwStringView());
    // A new file starts without the previous file's tag and pending changes.
    tag_.reset();
    dirty_ = false;
    file_ = std::make_unique<CDSDFile>();
    // The host's own text when writing the name back would give the same.
    IKwReader* reader = CKwSharedToolsHelper::Instance().CreateGenericReader(
        fileName_.ParsedVerbatim() && fileName ? fileName : fileName_.ToText().c_str());
    if (reader) reader->Open();
    // Only the header and the tag are read: no conversion context, so the
    // playback settings are not read either.
    CDsdOpenOptions options;
    options.headerOnly = true;
    if (!file_->Open(reader, 1, 0, 0, fileName_, options)) return false;
    ReadTag();
    return true;
}

void CDSDFileInfo::ReadTag() {
    IKwReader* reader = file_->Reader();
    if (!reader || !reader->IsOpen() || std::memcmp(file_->DsfHeader(), "DSD ", 4) != 0) return;
    tag_ = std::make_unique<CID3v2Tag>(CKwSharedToolsHelper::Instance().GetTools());
    const uint64_t offset = file_->MetadataOffset();
    // The size read with the headers a moment ago: one system call fewer.
    const int64_t size = file_->DsfFileSize();
    if (offset == 0 || size < 0 || offset >= static_cast<uint64_t>(size)) return;
    const int64_t length = std::min<int64_t>(size - static_cast<int64_t>(offset), kMaxTagBlock);
    // Filled by the read, so not cleared first.
    const auto block = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(length));
    if (reader->Seek(static_cast<int64_t>(offset), kKwSeekBegin) != static_cast<int64_t>(offset) ||
        !ReadExactly(reader, block.get(), static_cast<size_t>(length)))
        return;
    if (!tag_->Parse(block.get(), static_cast<size_t>(length))) tag_->Reset();
}

bool CDSDFileInfo::WriteTag(const uint8_t* bytes, size_t size) {
    IKwReader* reader = file_->Reader();
    if (!reader) return false;
    // What the file holds now beyond the audio: the header and the old tag.
    uint8_t header[28];
    std::memcpy(header, file_->DsfHeader(), sizeof(header));
    const int64_t oldSize = reader->GetSize();
    const uint64_t offset = file_->MetadataOffset();
    const int64_t tailStart = offset != 0 && oldSize > 0 && offset < static_cast<uint64_t>(oldSize)
                                  ? static_cast<int64_t>(offset)
                                  : oldSize;
    std::vector<uint8_t> tail;
    if (oldSize >= 0 && oldSize - tailStart <= kMaxTagBlock) {
        tail.resize(static_cast<size_t>(oldSize - tailStart));
        if (reader->Seek(tailStart, kKwSeekBegin) != tailStart || !ReadExactly(reader, tail.data(), tail.size()))
            return false;
    } else {
        return false;  // nothing to restore from: do not risk the file
    }
    if (file_->SaveTag(bytes, size)) return true;
    // Put the old tail and header back.
    if (reader->Seek(tailStart, kKwSeekBegin) == tailStart && reader->Truncate() &&
        WriteExactly(reader, tail.data(), tail.size()) && reader->Seek(0, kKwSeekBegin) == 0)
        WriteExactly(reader, header, sizeof(header));
    return false;
}

bool CDSDFileInfo::Close() {
    bool result = true;
    if (dirty_ && file_ && tag_) {
        std::vector<uint8_t> bytes;
        result = tag_->Render(bytes) && WriteTag(bytes.data(), bytes.size());
    }
    file_.reset();
    return result;
}

int32_t CDSDFileInfo::RemoveTag(int32_t kind) {
    if (kind == 1) return 0;
    if (kind != 0 || !file_ || !tag_) return -1;
    return WriteTag(nullptr, 0) ? 0 : -1;
}
