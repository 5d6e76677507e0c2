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

TEST(KwDllString, FiveOperations) {
    KwDllString s;
    IKwDllString& i = s;
    EXPECT_NE(i.GetText(), nullptr);
    EXPECT_EQ(i.GetText()[0], 0);
    i.SetText(KW_T("hello world"), -1);
    EXPECT_EQ(s.Text(), KW_T("hello world"));
    i.SetText(KW_T("hello world"), 5);
    EXPECT_EQ(KwString(i.GetText()), KW_T("hello"));
    i.SetText(nullptr, 3);
    EXPECT_TRUE(s.Text().empty());

    i.SetText(KW_T("abc"), -1);
    KwChar* buffer = i.GetBuffer(10, true);
    EXPECT_EQ(buffer[0], KW_T('a'));
    buffer[3] = KW_T('d');
    buffer[4] = 0;
    i.ReleaseBuffer(-1);
    EXPECT_EQ(s.Text(), KW_T("abcd"));

    buffer = i.GetBuffer(4, false);
    buffer[0] = KW_T('x');
    buffer[1] = KW_T('y');
    i.ReleaseBuffer(2);
    EXPECT_EQ(s.Text(), KW_T("xy"));
    i.GetBuffer(-5, true);  // a negative length asks for nothing
    i.ReleaseBuffer(100);   // beyond the text: nothing to cut
    EXPECT_EQ(s.Text(), KW_T("xy"));

    i.Clear();
    EXPECT_TRUE(s.Text().empty());
    EXPECT_EQ(i.GetText()[0], 0);
}

TEST(KwDllString, SlotsInDeclarationOrder) {
    KwDllString s(KW_T("start"));
    void* object = static_cast<IKwDllString*>(&s);
    EXPECT_EQ(KwString(CallSlot<const KwChar*>(object, 0)), KW_T("start"));
    CallSlot<void, const KwChar*, int32_t>(object, 1, KW_T("via slot one"), int32_t{-1});
    EXPECT_EQ(s.Text(), KW_T("via slot one"));
    CallSlot<void>(object, 2);
    EXPECT_TRUE(s.Text().empty());
    KwChar* buffer = CallSlot<KwChar*, int32_t, bool>(object, 3, int32_t{8}, false);
    ASSERT_NE(buffer, nullptr);
    for (int k = 0; k < 8; ++k) buffer[k] = static_cast<KwChar>(KW_T('0') + k);
    CallSlot<void, int32_t>(object, 4, int32_t{6});
    EXPECT_EQ(s.Text(), KW_T("012345"));
    EXPECT_EQ(KwString(CallSlot<const KwChar*>(object, 0)), KW_T("012345"));
}
