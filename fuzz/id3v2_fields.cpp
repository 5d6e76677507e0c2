// The field store from hostile names and values: the input is a version byte
// and then zero-separated UTF-8 texts taken as name/value pairs. After the
// stores the tag renders, the rendering parses, and every field that holds
// a value still holds one.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "fuzz/ID3FuzzTools.h"
#include "tags/CID3v2Tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static fuzz::DecompressionOnlyTools tools;
    CID3v2Tag tag(&tools);
    if (data[0] & 1) {  // start from an empty version 2.4 tag
        const uint8_t empty24[] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
        tag.Parse(empty24, sizeof(empty24));
    }
    std::vector<KwString> texts;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (size_t start = 0; start <= rest.size() && texts.size() < 64;) {
        const size_t zero = rest.find('\0', start);
        const size_t end = zero == std::string_view::npos ? rest.size() : zero;
        texts.push_back(KwFromUtf8(rest.substr(start, end - start)));
        start = end + 1;
    }
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        // Image fields take a file path; the fuzzer must not read files.
        if (KwEqualsNoCase(texts[i], KW_T("Image File"))) continue;
        tag.StoreField(texts[i], texts[i + 1]);
    }
    std::vector<uint8_t> rendered;
    if (!tag.Render(rendered)) return 0;
    CID3v2Tag again(&tools);
    if (!again.Parse(rendered)) std::abort();
    KwPropertyMap before, after;
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        if (KwEqualsNoCase(texts[i], KW_T("Image File"))) continue;
        const bool had = tag.LookupField(texts[i], before) && !before.GetString(KW_T("Value")).empty();
        if (had && !again.LookupField(texts[i], after)) std::abort();
    }
    return 0;
}
