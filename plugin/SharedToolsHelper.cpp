#include "plugin/SharedToolsHelper.h"

#include <atomic>

#include "plugin/DSDApp.h"
#include "support/KwLock.h"
#include "support/KwPlatform.h"

namespace {

// The loader lock: made by whichever call needs it first, never destroyed (it
// may be needed by a late unload during process exit).
std::atomic<KwCriticalSection*> g_loaderLock{nullptr};

KwCriticalSection& LoaderLock() {
    KwCriticalSection* lock = g_loaderLock.load(std::memory_order_acquire);
    if (lock) return *lock;
    auto* fresh = new KwCriticalSection();
    if (g_loaderLock.compare_exchange_strong(lock, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;  // another thread won the race
    return *lock;
}

bool IsAbsoluteLibraryPath(const KwString& path, bool windowsRules) {
    if (!windowsRules) return !path.empty() && path[0] == KW_T('/');
    if (path.find(KW_T('\\')) == KwString::npos) return false;
    if (path.size() >= 3 && path[1] == KW_T(':') && path[2] == KW_T('\\')) return true;
    return path.size() >= 2 && path[0] == KW_T('\\') && path[1] == KW_T('\\');
}

KwModuleHandle CurrentModuleHandle() {
    KwApp* app = KwApp::Current();
    return app ? app->ModuleHandle() : nullptr;
}

// The tools library's file name is kept scrambled in the binary and assembled
// when it is needed, so that it does not stand in the image as plain text.
constexpr uint8_t kToolsNameKey = 0x5A;
constexpr uint8_t kToolsNameScrambled[] = {'K' ^ kToolsNameKey, 'w' ^ kToolsNameKey, 'T' ^ kToolsNameKey,
                                           'o' ^ kToolsNameKey, 'o' ^ kToolsNameKey, 'l' ^ kToolsNameKey,
                                           's' ^ kToolsNameKey};

}  // namespace

std::vector<KwLoadAttempt> LibraryLoadAttempts(const KwString& folder, const KwString& fileName,
                                               const KwString& programFolder, bool windowsRules) {
    const KwChar sep = windowsRules ? KW_T('\\') : KW_T('/');
    KwString path = folder;
    if (!path.empty() && path.back() != sep) path += sep;
    path += fileName;
    if (IsAbsoluteLibraryPath(path, windowsRules)) return {{path, kKwLoadAlteredSearchPath}};
    if (programFolder.empty()) return {{path, 0}};
    KwString base = programFolder;
    if (base.back() != sep) base += sep;
    return {{base + path, kKwLoadAlteredSearchPath},
            {base + KW_T("x64") + KwString(1, sep) + path, kKwLoadAlteredSearchPath}};
}

void CKwSharedToolsHelper::DestroyLoaderLock() { delete g_loaderLock.exchange(nullptr, std::memory_order_acq_rel); }

CKwSharedToolsHelper& CKwSharedToolsHelper::Instance() {
    static CKwSharedToolsHelper instance;
    return instance;
}

KwString CKwSharedToolsHelper::ToolsLibraryName() {
    KwString name;
    for (uint8_t c : kToolsNameScrambled) name += static_cast<KwChar>(c ^ kToolsNameKey);
    return name + KwLibrarySuffix();
}
KwString CKwSharedToolsHelper::ReaderLibraryName() { return KW_T("KwReader") + KwLibrarySuffix(); }
KwString CKwSharedToolsHelper::ImageLibraryName() { return KW_T("KwImage") + KwLibrarySuffix(); }

bool CKwSharedToolsHelper::Load(EntryIndex index, const KwString& folder) {
    KwLockGuard guard(LoaderLock());
    Entry& entry = entries_[index];
    if (entry.module) return true;
    const KwString name = index == kTools ? ToolsLibraryName() : index == kReader ? ReaderLibraryName()
                                                                                  : ImageLibraryName();
#if defined(_WIN32)
    constexpr bool kWindowsRules = true;
#else
    constexpr bool kWindowsRules = false;
#endif
    for (const KwLoadAttempt& attempt : LibraryLoadAttempts(folder, name, KwGetProgramFolder(), kWindowsRules)) {
        entry.module = KwLoadLibrary(attempt.path, attempt.flags);
        if (entry.module) break;
    }
    if (!entry.module) return false;
    if (index == kTools) ++toolsLoads_;
    return StartUp(index);
}

bool CKwSharedToolsHelper::StartUp(EntryIndex index) {
    Entry& entry = entries_[index];
    switch (index) {
        case kReader: {
            // The reader library stays loaded even without its start-up exports.
            if (auto init = reinterpret_cast<KwReaderInitializeFn>(KwGetProcAddress(entry.module, "KwReaderInitialize")))
                init(entry.context);
            if (auto disc = reinterpret_cast<KwDiscInitializeFn>(KwGetProcAddress(entry.module, "KwDiscInitialize")))
                disc(entry.context);
            return true;
        }
        case kTools: {
            auto get = reinterpret_cast<KwGetToolsFn>(KwGetProcAddress(entry.module, "GetKwToolsDLL"));
            IKwTools* tools = get ? get(kKwToolsVersion) : nullptr;
            if (!tools) {
                FreeEntry(entry);
                return false;
            }
            entry.iface = tools;
            tools->Attach(entry.context, CurrentModuleHandle());
            return true;
        }
        case kImage: {
            auto get = reinterpret_cast<KwGetImageAppFn>(KwGetProcAddress(entry.module, "GetKwImageAppDLL"));
            IKwImageApp* image = get ? get() : nullptr;
            if (!image) {
                FreeEntry(entry);
                return false;
            }
            entry.iface = image;
            image->Attach(entry.context);
            return true;
        }
        default:
            return false;
    }
}

void CKwSharedToolsHelper::FreeEntry(Entry& entry) {
    KwFreeLibrary(entry.module);
    entry.module = nullptr;
    entry.iface = nullptr;
}

IKwTools* CKwSharedToolsHelper::GetTools() {
    if (!Load(kTools, KwString())) return nullptr;
    KwLockGuard guard(LoaderLock());
    return static_cast<IKwTools*>(entries_[kTools].iface);
}

bool CKwSharedToolsHelper::IsToolsLoaded() {
    KwLockGuard guard(LoaderLock());
    return entries_[kTools].module != nullptr;
}

bool CKwSharedToolsHelper::LoadReaderLibrary(const KwString& folder) { return Load(kReader, folder); }
bool CKwSharedToolsHelper::LoadImageLibrary(const KwString& folder) { return Load(kImage, folder); }

void* CKwSharedToolsHelper::ReaderExport(const char* name) {
    if (!LoadReaderLibrary(KwString())) return nullptr;
    KwLockGuard guard(LoaderLock());
    return KwGetProcAddress(entries_[kReader].module, name);
}

IKwReader* CKwSharedToolsHelper::CreateGenericReader(const KwChar* argument) {
    void* found = nullptr;
    {
        KwLockGuard guard(LoaderLock());
        if (entries_[kReader].module) found = createReader_;
    }
    if (!found) {
        found = ReaderExport("CreateGenericReaderDLL");
        KwLockGuard guard(LoaderLock());
        if (entries_[kReader].module) createReader_ = found;
    }
    auto create = reinterpret_cast<KwCreateGenericReaderFn>(found);
    return create ? create(argument) : nullptr;
}

void CKwSharedToolsHelper::UnloadAll() {
    // Without the lock nothing was ever loaded.
    if (!g_loaderLock.load(std::memory_order_acquire)) return;
    const KwModuleHandle self = CurrentModuleHandle();
    {
        KwLockGuard guard(LoaderLock());
        if (entries_[kTools].module && entries_[kTools].iface)
            static_cast<IKwTools*>(entries_[kTools].iface)->Detach(self);
    }
    // Libraries this plug-in never loads (disc, player, television and one
    // further entry): their steps run on empty entries.
    for (EntryIndex index : {kDisc, kPlayer, kTelevision, kFurther}) {
        KwLockGuard guard(LoaderLock());
        if (entries_[index].module) FreeEntry(entries_[index]);
    }
    {
        KwLockGuard guard(LoaderLock());
        Entry& image = entries_[kImage];
        if (image.module) {
            if (image.iface) static_cast<IKwImageApp*>(image.iface)->Release(image.context);
            FreeEntry(image);
        }
    }
    {
        KwLockGuard guard(LoaderLock());
        Entry& reader = entries_[kReader];
        if (reader.module) {
            if (auto uninit = reinterpret_cast<KwReaderUninitializeFn>(
                    KwGetProcAddress(reader.module, "KwReaderUninitialize")))
                uninit(reader.context);
            FreeEntry(reader);
            createReader_ = nullptr;
        }
    }
    {
        KwLockGuard guard(LoaderLock());
        Entry& tools = entries_[kTools];
        if (tools.module) {
            if (tools.iface) static_cast<IKwTools*>(tools.iface)->Release(tools.context, self);
            FreeEntry(tools);
        }
    }
}
