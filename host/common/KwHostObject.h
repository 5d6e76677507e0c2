// KwHostObject: the reference host's object that it hands to the plug-in's
// exports. The plug-in asks it for readers on plain file names.
#pragma once

#include "plugin/kwapi/IKwHost.h"

class KwHostObject : public IKwHost {
public:
    KwHostObject() = default;
    virtual ~KwHostObject() = default;

    // A new KwFileReader on `fileName` (not yet open); null for an empty name.
    IKwReader* CreateReader(const KwChar* fileName, int32_t reserved, int32_t openFlags) override;

    // Open flags of the most recent CreateReader call (-1 until then).
    int32_t LastOpenFlags() const { return lastOpenFlags_; }

private:
    int32_t lastOpenFlags_ = -1;
};
