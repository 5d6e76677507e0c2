// The text object through which texts cross the boundary between the plug-in
// and the host.
#pragma once

#include "KwAbi.h"

class IKwDllString {
public:
    // Slot 0: the current text (never null; empty text when nothing is set).
    virtual const KwChar* GetText() = 0;
    // Slot 1: replaces the text; a negative length means up to the terminating zero.
    virtual void SetText(const KwChar* text, int32_t length) = 0;
    // Slot 2: empties the text.
    virtual void Clear() = 0;
    // Slot 3: a writable buffer of at least `length` units plus a terminator;
    // with `keepContents` the current text is kept at its start.
    virtual KwChar* GetBuffer(int32_t length, bool keepContents) = 0;
    // Slot 4: ends the buffer access; the text is cut to `length` units
    // (-1: up to the terminating zero).
    virtual void ReleaseBuffer(int32_t length) = 0;

protected:
    ~IKwDllString() = default;
};
