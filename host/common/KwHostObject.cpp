#include "host/common/KwHostObject.h"

#include "host/common/KwFileReader.h"

IKwReader* KwHostObject::CreateReader(const KwChar* fileName, int32_t /*reserved*/, int32_t openFlags) {
    lastOpenFlags_ = openFlags;
    if (!fileName || !*fileName) return nullptr;
    // The open flags carry nothing this host acts on; the reader options
    // ("READ_ONLY") decide how the file is opened.
    return new KwFileReader(KwString(fileName));
}
