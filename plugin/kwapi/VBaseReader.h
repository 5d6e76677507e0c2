// VBaseReader: the reader base class that host readers and the plug-in's own
// wrapper share. It gives every IKwReader operation that a reader need not
// override a sensible default and keeps the option map.
#pragma once

#include <map>

#include "IKwReader.h"
#include "support/KwPlatform.h"

class VBaseReader : public KwObjectImpl<IKwReader> {
public:
    VBaseReader() = default;
    ~VBaseReader() override {
        if (observer_) observer_->OnReaderDestroyed(this);
    }
    VBaseReader(const VBaseReader&) = delete;
    VBaseReader& operator=(const VBaseReader&) = delete;

    int32_t GetState() override { return state_; }
    bool Reserved2() override { return false; }
    int64_t GetSizeNonNegative() override {
        const int64_t size = GetSize();
        return size < 0 ? 0 : size;
    }
    bool Reserved12() override { return false; }
    void Reserved13() override {}
    bool IsOpen() override { return open_ != 0; }
    void Reserved16() override {}
    void* Reserved17(void* resultSlot) override { return resultSlot; }
    void SetReserved18(int32_t value) override { value18_ = value; }
    void SetReserved19(int64_t value, int32_t extra) override {
        value19_ = value;
        extra19_ = extra;
    }
    void SetOptions(const KwChar* list) override {
        // name|value|name|value...; a missing last value is empty.
        const KwString text = list ? KwString(list) : KwString();
        size_t pos = 0;
        while (pos < text.size()) {
            size_t bar = text.find(KW_T('|'), pos);
            const KwString name = text.substr(pos, bar == KwString::npos ? KwString::npos : bar - pos);
            KwString value;
            if (bar == KwString::npos) {
                pos = text.size();
            } else {
                const size_t next = text.find(KW_T('|'), bar + 1);
                value = text.substr(bar + 1, next == KwString::npos ? KwString::npos : next - bar - 1);
                pos = next == KwString::npos ? text.size() : next + 1;
            }
            SetOption(name.c_str(), value.c_str());
        }
    }
    void SetOption(const KwChar* name, const KwChar* value) override {
        options_[name ? KwString(name) : KwString()] = value ? KwString(value) : KwString();
    }
    KwChar* GetOption(const KwChar* name) override {
        const auto it = options_.find(name ? KwString(name) : KwString());
        const KwString value = it == options_.end() ? KwString() : it->second;
        return KwSysAllocString(value.c_str(), value.size());
    }
    void SetReserved23(uint8_t value) override { byteFlag_ = value; }
    bool Reserved25() override { return false; }
    bool Reserved26() override { return false; }
    void SetObserver(IKwReaderObserver* observer) override { observer_ = observer; }
    bool Reserved28() override { return false; }
    bool Reserved29() override { return false; }
    double Reserved30() override { return -1.0; }
    int32_t Reserved31() override { return 0; }

    // An absolute position from an offset and an origin; never below 0.
    // Origin 2 counts back from the end by the offset's magnitude, whatever its sign.
    virtual int64_t ResolvePosition(int64_t current, int64_t offset, int32_t origin) {
        int64_t result = offset;
        if (origin == kKwSeekCurrent) {
            if (__builtin_add_overflow(current, offset, &result)) result = offset < 0 ? 0 : INT64_MAX;
        } else if (origin == kKwSeekEnd) {
            const int64_t magnitude = offset < 0 ? (offset == INT64_MIN ? INT64_MAX : -offset) : offset;
            if (__builtin_sub_overflow(GetSize(), magnitude, &result)) result = 0;
        }
        return result < 0 ? 0 : result;
    }

    // Option value as stored (empty when absent).
    KwString OptionValue(const KwString& name) const {
        const auto it = options_.find(name);
        return it == options_.end() ? KwString() : it->second;
    }

protected:
    int32_t state_ = 0;
    int64_t value19_ = 0;
    int32_t extra19_ = 0;
    int32_t value18_ = 0;
    std::map<KwString, KwString> options_;
    uint8_t byteFlag_ = 0;
    uint8_t open_ = 0;
    IKwReaderObserver* observer_ = nullptr;
};
