#include <new>

#include "host/common/KwHostFile.h"
#include "host/tools/KwToolsExports.h"
#include "host/tools/KwToolsImpl.h"

namespace {

// In-memory copies larger than this are not taken (they would not fit a
// 32-bit process of the host's either).
constexpr uint64_t kMaxMemoryCopyBytes = uint64_t(2) << 30;

// File names compare as the platform's file system does.
KwString CopyKey(const KwChar* fileName) {
    KwString key(fileName);
#if defined(_WIN32)
    for (auto& c : key) c = KwFoldCase(c);
#endif
    return key;
}

}  // namespace

// ---- settings ----

int32_t KwToolsSettings::GetInteger(const KwChar* name, int32_t defaultValue, int32_t, int32_t) {
    if (!name) return defaultValue;
    return store_.GetInteger(section_, name, defaultValue);
}

bool KwToolsSettings::SetInteger(const KwChar* name, int32_t value, int32_t, int32_t) {
    if (!name) return false;
    return store_.SetInteger(section_, name, value);
}

// ---- the library object ----

namespace {

KwToolsLibrary* g_instance = nullptr;

// Frees the library object when the library is unloaded with no plug-in
// attached. While a plug-in is still attached (a process that exits without
// unloading it), the object stays: the plug-in may call Release after this
// library's own clean-up has run.
struct InstanceReaper {
    ~InstanceReaper() {
        if (g_instance && g_instance->AttachCount() == 0) {
            delete g_instance;
            g_instance = nullptr;
        }
    }
} g_reaper;

}  // namespace

KwToolsLibrary& KwToolsLibrary::Instance() {
    static KwToolsLibrary* instance = g_instance = new KwToolsLibrary;
    return *instance;
}

void KwToolsLibrary::Attach(intptr_t, KwModuleHandle) { ++attachCount_; }

void KwToolsLibrary::Detach(KwModuleHandle) {}

void KwToolsLibrary::Release(intptr_t, KwModuleHandle) {
    int32_t count = attachCount_.load();
    while (count > 0 && !attachCount_.compare_exchange_weak(count, count - 1)) {
    }
}

IKwTranslator* KwToolsLibrary::GetTranslator(bool) {
    translator_.Refresh();
    return &translator_;
}

IKwSettings* KwToolsLibrary::OpenSettings(const KwChar* sectionPath, int32_t) {
    if (!sectionPath || !KwSettingsStore::IsValidSectionName(sectionPath)) return nullptr;
    try {
        return new KwToolsSettings(KwString(sectionPath));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

IKwReader* KwToolsLibrary::GetMemoryCopy(const KwChar* fileName) {
    if (!fileName || !*fileName) return nullptr;
    KwLockGuard guard(copiesLock_);
    const auto it = copies_.find(CopyKey(fileName));
    return it == copies_.end() ? nullptr : it->second.get();
}

IKwTextServices* KwToolsLibrary::GetTextServices(bool) { return &textServices_; }

IKwDateServices* KwToolsLibrary::GetDateServices(bool) { return &dateServices_; }

IKwCompression* KwToolsLibrary::GetCompression() { return new (std::nothrow) KwZlibCompression; }

bool KwToolsLibrary::RegisterMemoryCopy(const KwChar* fileName) {
    if (!fileName || !*fileName) return false;
    try {
        std::vector<uint8_t> bytes;
        if (!KwHostReadWholeFile(fileName, bytes, kMaxMemoryCopyBytes)) return false;
        auto reader = std::make_unique<KwMemoryReader>(std::move(bytes));
        KwLockGuard guard(copiesLock_);
        auto& slot = copies_[CopyKey(fileName)];
        // A reader handed out earlier may still be in use: keep it until the
        // copies are cleared.
        if (slot) retired_.push_back(std::move(slot));
        slot = std::move(reader);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void KwToolsLibrary::ClearMemoryCopies() {
    KwLockGuard guard(copiesLock_);
    copies_.clear();
    retired_.clear();
}

// ---- exports ----

KW_EXPORT IKwTools* GetKwToolsDLL(int32_t version) {
    return version == kKwToolsVersion ? &KwToolsLibrary::Instance() : nullptr;
}

// Called by the host program: keeps a copy of the file's bytes that the
// plug-in then reads instead of the file (GetMemoryCopy with the same name).
KW_EXPORT bool KwToolsRegisterMemoryCopy(const KwChar* fileName) {
    return KwToolsLibrary::Instance().RegisterMemoryCopy(fileName);
}

// Drops every in-memory copy. The host calls it only while no reader handed
// out by GetMemoryCopy is in use.
KW_EXPORT void KwToolsClearMemoryCopies() { KwToolsLibrary::Instance().ClearMemoryCopies(); }
