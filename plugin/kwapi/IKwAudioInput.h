// The input-source interface that the host drives to play one file.
#pragma once

#include "IKwDllString.h"
#include "KwAbi.h"

class IKwAudioInput : public IKwObject {
public:
    // Opens a plain file name or an XMLFN text; 0 on success, -1 on failure.
    virtual int32_t Open(const KwChar* fileName) = 0;                       // 1
    // Answers an information code into `result`; 0 when answered, else -1.
    virtual int32_t GetInfo(int32_t code, IKwDllString* result) = 0;         // 2
    // Sets an information code from a decimal or text value.
    virtual int32_t SetInfo(int32_t code, const KwChar* value) = 0;          // 3
    virtual int32_t DoCommand(int32_t code) = 0;                             // 4
    // Reads audio bytes; returns the count written (0 at the end).
    virtual int32_t Read(void* destination, int32_t count) = 0;              // 5

protected:
    ~IKwAudioInput() = default;
};
