// CWrappingReader: a reader of the plug-in's own that forwards every call to a
// reader it does not own, so that the input source can own and destroy its
// reader even when that reader is a shared in-memory copy of the tools library.
#pragma once

#include "plugin/kwapi/VBaseReader.h"

class CWrappingReader : public VBaseReader {
public:
    explicit CWrappingReader(IKwReader* wrapped) : wrapped_(wrapped) { state_ = -1; }
    // Leaves the wrapped reader alone.
    ~CWrappingReader() override = default;

    int32_t GetState() override { return wrapped_->GetState(); }
    bool Reserved2() override { return wrapped_->Reserved2(); }
    bool Open() override { return wrapped_->Open(); }
    void Abort() override { wrapped_->Abort(); }
    int32_t Read(void* buffer, int32_t count) override { return wrapped_->Read(buffer, count); }
    int32_t Write(const void* buffer, int32_t count) override { return wrapped_->Write(buffer, count); }
    int64_t GetSize() override { return wrapped_->GetSize(); }
    int64_t GetSizeNonNegative() override { return wrapped_->GetSizeNonNegative(); }
    int64_t GetPosition() override { return wrapped_->GetPosition(); }
    int64_t Seek(int64_t offset, int32_t origin) override { return wrapped_->Seek(offset, origin); }
    bool Truncate() override { return wrapped_->Truncate(); }
    bool Reserved12() override { return wrapped_->Reserved12(); }
    void Reserved13() override { wrapped_->Reserved13(); }
    bool HasCapability(int32_t capability) override { return wrapped_->HasCapability(capability); }
    bool IsOpen() override { return wrapped_->IsOpen(); }
    void Reserved16() override { wrapped_->Reserved16(); }
    void* Reserved17(void* resultSlot) override { return wrapped_->Reserved17(resultSlot); }
    void SetReserved18(int32_t value) override { wrapped_->SetReserved18(value); }
    void SetReserved19(int64_t value, int32_t extra) override { wrapped_->SetReserved19(value, extra); }
    void SetOptions(const KwChar* list) override { wrapped_->SetOptions(list); }
    void SetOption(const KwChar* name, const KwChar* value) override { wrapped_->SetOption(name, value); }
    KwChar* GetOption(const KwChar* name) override { return wrapped_->GetOption(name); }
    void SetReserved23(uint8_t) override {}  // the wrapper stores nothing
    bool Reserved28() override { return wrapped_->Reserved28(); }
    bool Reserved29() override { return wrapped_->Reserved29(); }

    IKwReader* Wrapped() const { return wrapped_; }

private:
    IKwReader* wrapped_;
};

// Decides which reader the input source uses for `fileName`: the host reader
// itself, a wrapper around the tools library's in-memory copy, or a from-memory
// reader of the reader library. Sets `fromMemory` when it replaces the reader.
IKwReader* SelectReader(IKwReader* hostReader, const KwString& fileName, uint8_t& fromMemory);
