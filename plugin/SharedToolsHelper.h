// CKwSharedToolsHelper: the process-wide loader of the host's own libraries
// (tools, reader, image). Each is found, loaded and started once, on first
// use, under one loader lock, and unloaded when the module exits.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/kwapi/IKwReader.h"
#include "plugin/kwapi/IKwTools.h"
#include "support/KwTypes.h"

// One way of loading a library: a path and the load flags.
struct KwLoadAttempt {
    KwString path;
    uint32_t flags = 0;
    bool operator==(const KwLoadAttempt&) const = default;
};

// The paths tried, in order, for `fileName` in `folder` (empty: the plug-in's
// own callers), given the host program's folder:
//  * an absolute path (Windows: "X:\..." or "\\server\..."; POSIX: "/...") is
//    loaded unchanged with the altered-search-path flag;
//  * otherwise, with an empty program folder, the bare path by the system search;
//  * otherwise the program folder, then its "x64" subfolder.
// `windowsRules` selects the Windows path syntax (backslashes).
std::vector<KwLoadAttempt> LibraryLoadAttempts(const KwString& folder, const KwString& fileName,
                                               const KwString& programFolder, bool windowsRules);

class CKwSharedToolsHelper {
public:
    static CKwSharedToolsHelper& Instance();

    // Loads the tools library when needed; null when it cannot be loaded.
    IKwTools* GetTools();
    // True when the tools library is loaded (does not load it).
    bool IsToolsLoaded();
    bool LoadReaderLibrary(const KwString& folder);
    bool LoadImageLibrary(const KwString& folder);
    // Loads the reader library and calls CreateGenericReaderDLL(argument); null
    // when the library or the export is missing.
    IKwReader* CreateGenericReader(const KwChar* argument);
    // Looks up an export of the reader library (loading it first); null when absent.
    void* ReaderExport(const char* name);
    // Unloads every library (module exit). Later requests load them again.
    void UnloadAll();
    // Frees the loader lock. Only for the very end of the library's life, when
    // no code of the library can run any more (the shared object's unload hook);
    // otherwise the lock lives as long as the process.
    static void DestroyLoaderLock();

    // File names of the host libraries on this platform.
    static KwString ToolsLibraryName();
    static KwString ReaderLibraryName();
    static KwString ImageLibraryName();

    // How many times a library file was actually loaded (for diagnostics and tests).
    int ToolsLoadCount() const { return toolsLoads_; }
    KwModuleHandle ToolsModule() const { return entries_[kTools].module; }
    KwModuleHandle ReaderModule() const { return entries_[kReader].module; }

private:
    enum EntryIndex { kTools, kReader, kImage, kDisc, kPlayer, kTelevision, kFurther, kEntryCount };
    struct Entry {
        KwModuleHandle module = nullptr;
        intptr_t context = 0;
        void* iface = nullptr;
    };

    CKwSharedToolsHelper() = default;
    bool Load(EntryIndex index, const KwString& folder);
    bool StartUp(EntryIndex index);
    void FreeEntry(Entry& entry);

    Entry entries_[kEntryCount];
    int toolsLoads_ = 0;
    // CreateGenericReaderDLL of the loaded reader library, looked up once per
    // load rather than for every file opened (under the loader lock).
    void* createReader_ = nullptr;
};
