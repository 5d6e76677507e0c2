// CDSDFileInfo: the file-information object that GetFileInfo hands to the
// host: technical properties of a DSD file, read through the same CDSDFile
// that playback uses, and the ID3v2 tag of a DSF file, read and written
// through CID3v2Tag.
#pragma once

#include <memory>

#include "dsdfile/CDSDFile.h"
#include "plugin/kwapi/IKwAudioFileInfo.h"
#include "plugin/kwapi/IKwHost.h"
#include "tags/CID3v2Tag.h"
#include "tags/KwPropertyMap.h"
#include "tags/KwXMLFilename.h"

class KwAudioFileInfoBase : public KwObjectImpl<IKwAudioFileInfo> {};

class CDSDFileInfo : public KwAudioFileInfoBase {
public:
    explicit CDSDFileInfo(IKwHost* host) : host_(host), fileName_(nullptr) {}
    ~CDSDFileInfo() override;

    bool GetProperty(const KwChar* name, IKwDllString* result) override;
    bool SetProperty(const KwChar* name, const KwChar* value) override;
    bool GetTagSummary(IKwDllString* result) override;
    bool Open(const KwChar* fileName) override;
    bool Close() override;
    int32_t RemoveTag(int32_t kind) override;

private:
    // Reads the tag block of an opened DSF file into a new tag object.
    void ReadTag();
    // A field of the tag, for GetProperty.
    bool AnswerFromTag(KwStringView name, IKwDllString* result);
    // Writes `bytes` as the file's tag; on a failed write puts the old tail
    // and header back so that the file stays as it was.
    bool WriteTag(const uint8_t* bytes, size_t size);

    IKwHost* host_;
    std::unique_ptr<CDSDFile> file_;
    KwPropertyMap properties_;
    KwXMLFilename fileName_;
    std::unique_ptr<CID3v2Tag> tag_;
    bool dirty_ = false;
};
