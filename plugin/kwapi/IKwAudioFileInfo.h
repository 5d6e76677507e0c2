// The file-information interface: technical properties and tag fields.
#pragma once

#include "IKwDllString.h"
#include "KwAbi.h"

class IKwAudioFileInfo : public IKwObject {
public:
    virtual bool GetProperty(const KwChar* name, IKwDllString* result) = 0;  // 1
    virtual bool SetProperty(const KwChar* name, const KwChar* value) = 0;   // 2
    virtual bool GetTagSummary(IKwDllString* result) = 0;                    // 3
    virtual bool Open(const KwChar* fileName) = 0;                           // 4
    virtual bool Close() = 0;                                                // 5
    virtual int32_t RemoveTag(int32_t kind) = 0;                             // 6

protected:
    ~IKwAudioFileInfo() = default;
};
