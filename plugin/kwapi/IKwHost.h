// The host application's object handed to the plug-in's exports.
#pragma once

#include "IKwReader.h"
#include "KwAbi.h"

class IKwHost {
public:
    // A new reader for `fileName` (not yet open), owned by the caller; null on failure.
    // `reserved` is 0; `openFlags` is -1 unless the host asked for other flags.
    virtual IKwReader* CreateReader(const KwChar* fileName, int32_t reserved, int32_t openFlags) = 0;  // 0

protected:
    ~IKwHost() = default;
};
