// The host's tools library as the plug-in uses it: settings store, translator,
// in-memory copies of files, text and date services, decompression.
#pragma once

#include "IKwDllString.h"
#include "IKwReader.h"
#include "KwAbi.h"

// Interface version passed to GetKwToolsDLL.
constexpr int32_t kKwToolsVersion = 200048;

// One section of the settings store; destroyed by whoever opened it.
class IKwSettings : public IKwObject {
public:
    virtual int32_t GetInteger(const KwChar* name, int32_t defaultValue, int32_t reserved1,
                               int32_t reserved2) = 0;                                     // 1
    virtual bool SetInteger(const KwChar* name, int32_t value, int32_t reserved1,
                            int32_t reserved2) = 0;                                        // 2

protected:
    ~IKwSettings() = default;
};

// Replaces a user-visible text by its translation, in place.
class IKwTranslator {
public:
    virtual bool Translate(IKwDllString* text) = 0;  // 0

protected:
    ~IKwTranslator() = default;
};

class IKwTextServices {
public:
    // Negative, zero or positive, as `a` orders before, equal to or after `b`.
    // Flags 513: ignore case (1) and compare digit runs as numbers (512).
    virtual int32_t Compare(const KwChar* a, const KwChar* b, uint32_t flags, bool reserved) = 0;  // 0

protected:
    ~IKwTextServices() = default;
};

class IKwDateServices {
public:
    // The date as an OLE Automation day number; 0 when the text is no date.
    virtual double ParseDate(const KwChar* text, int32_t reserved) = 0;  // 0

protected:
    ~IKwDateServices() = default;
};

class IKwDecompressor : public IKwObject {
public:
    // Inflates `source` into `destination`; `*destinationLength` holds the room on
    // entry and the bytes written on return.
    virtual bool Decompress(const void* source, uint32_t sourceLength, void* destination,
                            uint32_t* destinationLength) = 0;  // 1

protected:
    ~IKwDecompressor() = default;
};

class IKwCompression : public IKwObject {
public:
    virtual IKwDecompressor* CreateDecompressor() = 0;  // 1

protected:
    ~IKwCompression() = default;
};

class IKwTools {
public:
    virtual void Attach(intptr_t context, KwModuleHandle module) = 0;                   // 0
    virtual void Detach(KwModuleHandle module) = 0;                                      // 1
    virtual void Release(intptr_t context, KwModuleHandle module) = 0;                  // 2
    virtual IKwTranslator* GetTranslator(bool create) = 0;                               // 3
    virtual IKwSettings* OpenSettings(const KwChar* sectionPath, int32_t reserved) = 0;  // 4
    // A reader over an in-memory copy that the tools library keeps (never destroy it).
    virtual IKwReader* GetMemoryCopy(const KwChar* fileName) = 0;                        // 5
    virtual IKwTextServices* GetTextServices(bool create) = 0;                           // 6
    virtual IKwDateServices* GetDateServices(bool create) = 0;                           // 7
    virtual IKwCompression* GetCompression() = 0;                                        // 8

protected:
    ~IKwTools() = default;
};

// The host's image library; only the window toolkit uses it.
class IKwImageApp {
public:
    virtual void Attach(intptr_t context) = 0;   // 0
    virtual void Release(intptr_t context) = 0;  // 1

protected:
    ~IKwImageApp() = default;
};

// Exports of the host libraries, looked up by name.
extern "C" {
using KwGetToolsFn = IKwTools* (*)(int32_t version);
using KwGetImageAppFn = IKwImageApp* (*)();
using KwReaderInitializeFn = void (*)(intptr_t context);
using KwReaderUninitializeFn = void (*)(intptr_t context);
using KwDiscInitializeFn = void (*)(intptr_t context);
using KwCreateGenericReaderFn = IKwReader* (*)(const KwChar* argument);
using KwCreateFromMemoryReaderFn = IKwReader* (*)(IKwReader* reader);
}

// Exports of the plug-in.
class IKwHost;
class IKwAudioInput;
class IKwAudioFileInfo;
extern "C" {
using KwGetInputSourceFn = IKwAudioInput* (*)(IKwHost* host);
using KwGetFileInfoFn = int32_t (*)(IKwHost* host, IKwAudioFileInfo** result);
}
