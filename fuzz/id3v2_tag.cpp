// ID3v2 tags from hostile bytes: parse, read the fields of the frames the
// tag holds (and one built-in field in eight besides: a lookup of the whole
// table took most of a run), read every frame's display text, render, and
// parse the rendering again. A rendered tag must
// parse, and rendering it again must give the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/ID3FuzzTools.h"
#include "tags/CID3v2Tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::DecompressionOnlyTools tools;
    CID3v2Tag tag(&tools);
    tag.Parse(data, size);
    KwPropertyMap fields;
    const size_t steer = size % 8;
    for (size_t i = 0; i < kID3BuiltInRows; ++i) {
        const CID3v2Field& row = tag.Row(i);
        bool held = i % 8 == steer;
        for (size_t f = 0; f < tag.FrameCount() && !held; ++f)
            held = std::memcmp(tag.Frame(f).id, row.frameId, 4) == 0;
        const KwString name = row.name;
        if (held && name != KW_T("Image File")) tag.LookupField(name, fields);  // "Image File" writes a file
    }
    for (size_t i = 0; i <= tag.FrameCount(); ++i) (void)tag.FrameDisplayText(i);

    std::vector<uint8_t> first;
    if (!tag.Render(first)) return 0;
    CID3v2Tag again(&tools);
    if (!again.Parse(first)) std::abort();
    std::vector<uint8_t> second;
    if (!again.Render(second) || second != first) std::abort();
    return 0;
}
