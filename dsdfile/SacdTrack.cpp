// Disc-image tracks. Not supported yet: the container recognises nothing, so
// every open of a disc-image track fails.
#include "dsdfile/DsdContainer.h"

namespace {

class CSacdTrackContainer final : public CDsdContainer {
public:
    bool Open(IKwReader*, const KwXMLFilename&, const CDsdOpenOptions&, CAudioFormat&) override { return false; }
    size_t Fill(uint8_t*, size_t) override { return 0; }
    bool Seek(double) override { return false; }
    double Duration() const override { return 0.0; }
    bool IsDiscImage() const override { return true; }
};

}  // namespace

std::unique_ptr<CDsdContainer> MakeSacdTrackContainer() { return std::make_unique<CSacdTrackContainer>(); }
