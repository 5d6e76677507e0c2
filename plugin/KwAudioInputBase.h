// KwAudioInputBase: the host's base class for input sources. It implements
// IKwAudioInput with an intermediate buffer that plug-ins reading through
// FillBuffer use; inputs that override Read leave it idle.
#pragma once

#include <memory>

#include "plugin/kwapi/IKwAudioInput.h"
#include "plugin/kwapi/IKwHost.h"

// The two operations the base class adds come in slots 6 and 7, straight
// after the interface's own; the implementation's destructor follows them.
class IKwBufferedAudioInput : public IKwAudioInput {
public:
    // Refills the intermediate buffer; -1 when the input has no such source.
    virtual int32_t FillBuffer() = 0;  // 6
    virtual int32_t ResetBuffer() = 0;  // 7

protected:
    ~IKwBufferedAudioInput() = default;
};

class KwAudioInputBase : public KwObjectImpl<IKwBufferedAudioInput> {
public:
    explicit KwAudioInputBase(IKwHost* host) : host_(host) {}
    ~KwAudioInputBase() override;

    int32_t GetInfo(int32_t code, IKwDllString* result) override;
    int32_t Read(void* destination, int32_t count) override;
    int32_t FillBuffer() override { return -1; }
    int32_t ResetBuffer() override;

protected:
    void DestroyReader();

    IKwHost* host_;
    IKwReader* reader_ = nullptr;
    std::unique_ptr<uint8_t[]> buffer_;
    int32_t bufferFill_ = -1;
    int32_t bufferCapacity_ = 65536;
    int32_t heldBack_ = 0;
    int32_t bitRate_ = -1;
    int32_t sampleRate_ = -1;
    int32_t bitsPerSample_ = -1;
    int32_t channels_ = -1;
    int32_t extraValue_ = 0;
    uint8_t supportIcyMetadata_ = 0;
    int64_t length_ = -1;
    int64_t duration_ = -1;
    uint8_t endOfData_ = 0;
    uint8_t keepReading_ = 0;
    uint8_t fromMemory_ = 0;
    int32_t readerOpenFlags_ = -1;
    int32_t readOffset_ = 0;
};
