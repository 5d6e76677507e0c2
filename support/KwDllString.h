// KwDllString: the plug-in's and the host's implementation of IKwDllString
// over a KwString.
#pragma once

#include "plugin/kwapi/IKwDllString.h"
#include "support/KwTypes.h"

class KwDllString : public IKwDllString {
public:
    KwDllString() = default;
    explicit KwDllString(KwString text) : text_(std::move(text)) {}
    virtual ~KwDllString() = default;

    const KwChar* GetText() override { return text_.c_str(); }
    void SetText(const KwChar* text, int32_t length) override {
        if (!text) {
            text_.clear();
            return;
        }
        text_.assign(text, length < 0 ? KwStrLen(text) : static_cast<size_t>(length));
    }
    void Clear() override { text_.clear(); }
    KwChar* GetBuffer(int32_t length, bool keepContents) override {
        const size_t want = length < 0 ? 0 : static_cast<size_t>(length);
        if (!keepContents) text_.clear();
        if (text_.size() < want) text_.resize(want);
        return text_.data();
    }
    void ReleaseBuffer(int32_t length) override {
        if (length < 0)
            text_.resize(KwStrLen(text_.c_str()));
        else if (static_cast<size_t>(length) < text_.size())
            text_.resize(static_cast<size_t>(length));
    }

    const KwString& Text() const { return text_; }
    KwString& Text() { return text_; }

private:
    KwString text_;
};
