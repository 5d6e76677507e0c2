#include "plugin/WrappingReader.h"

#include "plugin/SharedToolsHelper.h"
#include "plugin/kwapi/IKwTools.h"

IKwReader* SelectReader(IKwReader* hostReader, const KwString& fileName, uint8_t& fromMemory) {
    // Streams over the network are never copied.
    if (KwStartsWithNoCase(fileName, KW_T("http://")) || KwStartsWithNoCase(fileName, KW_T("https://")))
        return hostReader;

    CKwSharedToolsHelper& helper = CKwSharedToolsHelper::Instance();
    IKwTools* tools = helper.GetTools();
    if (tools) {
        if (IKwReader* copy = tools->GetMemoryCopy(fileName.c_str())) {
            // Nothing keeps the host reader after the replacement, so it is
            // destroyed here rather than left open.
            KwDestroy(hostReader);
            auto* wrapper = new CWrappingReader(copy);
            copy->Seek(0, kKwSeekBegin);
            fromMemory = 1;
            return wrapper;
        }
        KwPtr<IKwSettings> engine(tools->OpenSettings(KW_T("Playback Engine"), 0));
        if (engine && engine->GetInteger(KW_T("Play Files From Memory"), 0, 0, 0) != 0) {
            auto create = reinterpret_cast<KwCreateFromMemoryReaderFn>(helper.ReaderExport("CreateFromMemoryReaderDLL"));
            if (create) {
                // The reader library takes over the host reader when it succeeds.
                if (IKwReader* memory = create(hostReader)) {
                    fromMemory = 1;
                    return memory;
                }
            }
        }
    }
    return hostReader;
}
