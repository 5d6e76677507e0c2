// CDSDInputSource: the input source that GetInputSource hands to the host for
// playing one file. It translates between the host's byte-and-text
// conventions and one CDSDFile, which does all the audio work.
#pragma once

#include <memory>

#include "dsdfile/CDSDFile.h"
#include "plugin/KwAudioInputBase.h"

class CDSDInputSource : public KwAudioInputBase {
public:
    explicit CDSDInputSource(IKwHost* host) : KwAudioInputBase(host) {}
    ~CDSDInputSource() override;

    int32_t Open(const KwChar* fileName) override;
    int32_t GetInfo(int32_t code, IKwDllString* result) override;
    int32_t SetInfo(int32_t code, const KwChar* value) override;
    int32_t DoCommand(int32_t code) override;
    int32_t Read(void* destination, int32_t count) override;

    CDSDFile* File() const { return file_.get(); }

private:
    void ReplaceFile(CDSDFile* file);
    // The low-pass status text (information code 35).
    int32_t LowPassStatus(IKwDllString* result);

    std::unique_ptr<CDSDFile> file_;
    uint32_t fileOwned_ = 1;
    int32_t outputModes_ = 0;
    int32_t highestDsdRate_ = 0;
};

// Bits per frame of a format record: block align × 8, else bits × channels, else 8.
int64_t FrameBits(const CAudioFormat& format);
