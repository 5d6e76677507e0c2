// The reference host's tools library: settings, translator, in-memory copies
// of files, text and date services and zlib decompression, handed to the
// plug-in through IKwTools.
#pragma once

#include <atomic>
#include <map>
#include <memory>

#include "host/common/KwMemoryReader.h"
#include "host/common/KwSettingsStore.h"
#include "plugin/kwapi/IKwTools.h"
#include "support/KwLock.h"

// One section of the settings store. The file is read when the object is
// made, so every OpenSettings sees what other processes wrote before.
class KwToolsSettings : public KwObjectImpl<IKwSettings> {
public:
    explicit KwToolsSettings(KwString section) : section_(std::move(section)) {}

    int32_t GetInteger(const KwChar* name, int32_t defaultValue, int32_t reserved1, int32_t reserved2) override;
    bool SetInteger(const KwChar* name, int32_t value, int32_t reserved1, int32_t reserved2) override;

private:
    KwString section_;
    KwSettingsStore store_;
};

// Translations from a catalog file named by KW_TRANSLATION_CATALOG: UTF-8
// lines "source=translation". Blank lines and lines starting with "#" are
// skipped; "\=", "\\", "\n", "\r" and "\t" stand for "=", a backslash, line
// feed, carriage return and tab. Without a catalog every text stays as it is.
class KwTranslator : public IKwTranslator {
public:
    bool Translate(IKwDllString* text) override;

    // Re-reads the catalog when the variable names another file than before.
    void Refresh();
    // Parses catalog text; lines without "=" are skipped.
    static std::map<KwString, KwString> ParseCatalog(std::string_view text);

private:
    KwCriticalSection lock_;
    KwString catalogPath_;
    bool loaded_ = false;
    std::map<KwString, KwString> catalog_;
};

class KwTextServices : public IKwTextServices {
public:
    int32_t Compare(const KwChar* a, const KwChar* b, uint32_t flags, bool reserved) override;
};

class KwDateServices : public IKwDateServices {
public:
    double ParseDate(const KwChar* text, int32_t reserved) override;
};

class KwZlibDecompressor : public KwObjectImpl<IKwDecompressor> {
public:
    bool Decompress(const void* source, uint32_t sourceLength, void* destination,
                    uint32_t* destinationLength) override;
};

class KwZlibCompression : public KwObjectImpl<IKwCompression> {
public:
    IKwDecompressor* CreateDecompressor() override;
};

class KwToolsLibrary final : public IKwTools {
public:
    static KwToolsLibrary& Instance();

    void Attach(intptr_t context, KwModuleHandle module) override;
    void Detach(KwModuleHandle module) override;
    void Release(intptr_t context, KwModuleHandle module) override;
    IKwTranslator* GetTranslator(bool create) override;
    IKwSettings* OpenSettings(const KwChar* sectionPath, int32_t reserved) override;
    IKwReader* GetMemoryCopy(const KwChar* fileName) override;
    IKwTextServices* GetTextServices(bool create) override;
    IKwDateServices* GetDateServices(bool create) override;
    IKwCompression* GetCompression() override;

    bool RegisterMemoryCopy(const KwChar* fileName);
    void ClearMemoryCopies();

    int32_t AttachCount() const { return attachCount_; }

private:
    KwToolsLibrary() = default;

    std::atomic<int32_t> attachCount_{0};
    KwTranslator translator_;
    KwTextServices textServices_;
    KwDateServices dateServices_;
    KwCriticalSection copiesLock_;
    std::map<KwString, std::unique_ptr<KwMemoryReader>> copies_;
    std::vector<std::unique_ptr<KwMemoryReader>> retired_;
};
