// A tools library for the tag fuzz targets: only the zlib decompressor, so
// that compressed frames are inflated as the host would.
#pragma once

#include <zlib.h>

#include <new>

#include "plugin/kwapi/IKwTools.h"

namespace fuzz {

class ZlibDecompressor : public KwObjectImpl<IKwDecompressor> {
public:
    bool Decompress(const void* source, uint32_t sourceLength, void* destination, uint32_t* destinationLength) override {
        uLongf room = *destinationLength;
        *destinationLength = 0;
        if (uncompress(static_cast<Bytef*>(destination), &room, static_cast<const Bytef*>(source), sourceLength) != Z_OK)
            return false;
        *destinationLength = static_cast<uint32_t>(room);
        return true;
    }
};

class ZlibCompression : public KwObjectImpl<IKwCompression> {
public:
    IKwDecompressor* CreateDecompressor() override { return new (std::nothrow) ZlibDecompressor; }
};

class DecompressionOnlyTools : public IKwTools {
public:
    void Attach(intptr_t, KwModuleHandle) override {}
    void Detach(KwModuleHandle) override {}
    void Release(intptr_t, KwModuleHandle) override {}
    IKwTranslator* GetTranslator(bool) override { return nullptr; }
    IKwSettings* OpenSettings(const KwChar*, int32_t) override { return nullptr; }
    IKwReader* GetMemoryCopy(const KwChar*) override { return nullptr; }
    IKwTextServices* GetTextServices(bool) override { return nullptr; }
    IKwDateServices* GetDateServices(bool) override { return nullptr; }
    IKwCompression* GetCompression() override { return new (std::nothrow) ZlibCompression; }
};

}  // namespace fuzz
