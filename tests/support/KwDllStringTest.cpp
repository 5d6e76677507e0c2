#include <gtest/gtest.h>

#include "support/KwDllString.h"

namespace {

// Calls slot `index` of an object's vtable the way a host that knows only the
// slot order does.
template <class R, class... Args>
R CallSlot(void* object, size_t index, Args... args) {
    void** vtable = *reinterpret_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, Args...)>(vtable[index])(object, args...);
}

}  // namespace

// The five operations, each through its slot: 0 GetText, 1 SetText,
// 2 Clear, 3 GetBuffer, 4 ReleaseBuffer.
TEST(KwDllString, SlotsInDeclarationOrder) {
    KwDllString s(KW_T("start"));
    void* object = static_cast<IKwDllString*>(&s);
    const auto text = [&] { return KwString(CallSlot<const KwChar*>(object, 0)); };
    const auto set = [&](const KwChar* t, int32_t n) { CallSlot<void, const KwChar*, int32_t>(object, 1, t, n); };
    const auto buffer = [&](int32_t n, bool keep) { return CallSlot<KwChar*, int32_t, bool>(object, 3, n, keep); };
    const auto release = [&](int32_t n) { CallSlot<void, int32_t>(object, 4, n); };
    EXPECT_EQ(text(), KW_T("start"));
    set(KW_T("hello world"), 5);
    EXPECT_EQ(text(), KW_T("hello"));
    set(nullptr, 3);
    EXPECT_EQ(text(), KwString());

    set(KW_T("abc"), -1);
    KwChar* b = buffer(10, true);  // keeps the text
    ASSERT_EQ(b[0], KW_T('a'));
    b[3] = KW_T('d');
    b[4] = 0;
    release(-1);  // up to the terminator
    EXPECT_EQ(s.Text(), KW_T("abcd"));
    b = buffer(8, false);
    for (int k = 0; k < 8; ++k) b[k] = static_cast<KwChar>(KW_T('0') + k);
    release(6);
    EXPECT_EQ(text(), KW_T("012345"));
    buffer(-5, true);  // a negative length asks for nothing
    release(100);      // beyond the text: nothing to cut
    EXPECT_EQ(text(), KW_T("012345"));
    CallSlot<void>(object, 2);
    EXPECT_EQ(text(), KwString());
}
