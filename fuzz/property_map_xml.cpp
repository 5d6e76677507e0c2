// Property maps from hostile data: the input is read both as an XML text for
// FromXML and as a serial buffer for Load. What is read must write out and
// read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "support/KwArchive.h"
#include "tags/KwPropertyMap.h"

using fuzz::HasUnpairedSurrogate;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As XML (UTF-8).
    KwPropertyMap map;
    const KwString xml = KwFromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    if (map.FromXML(xml, KW_T("Props"))) {
        const KwString written = map.ToXML(KW_T("Props"), false, 1.0);
        KwPropertyMap back;
        bool representable = true;
        map.ForEach([&](const KwString& key, const KwString& value) {
            if (HasUnpairedSurrogate(key) || HasUnpairedSurrogate(value)) representable = false;
        });
        if (representable && (!back.FromXML(written, KW_T("Props")) || !back.Equals(map))) std::abort();
        (void)map.ToText(KW_T("- "), KW_T("\r\n"));
    }

    // As a serial buffer.
    const KwArchive archive(data, size);
    KwPropertyMap loaded;
    size_t position = 0;
    if (loaded.Load(archive, position)) {
        if (position > size) std::abort();
        KwArchive saved;
        loaded.Save(saved, true);
        KwPropertyMap again;
        if (!again.LoadFromStart(saved) || !again.Equals(loaded)) std::abort();
        (void)loaded.ToXML(KW_T("Props"), true, 2.0);
    } else if (!loaded.IsEmpty()) {
        std::abort();
    }
    return 0;
}
