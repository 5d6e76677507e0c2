// Drives the Windows build of the plug-in through raw vtable slots, as a host
// built with another compiler does: every input-source slot before Open, then
// the deleting destructor. Built with mingw-w64 and run under wine by
// windows_slots.sh. Exit status 0 when every answer is right.
#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace {

template <class R, class... Args>
R CallSlot(void* object, int slot, Args... args) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, Args...)>(table[slot])(object, args...);
}

int failures = 0;

void Expect(int32_t got, int32_t expected, const char* what) {
    if (got == expected) return;
    std::printf("windows_slots: %s gave %d, expected %d\n", what, got, expected);
    ++failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        std::printf("windows_slots: cannot load %s\n", argv[1]);
        return 1;
    }
    using GetInputSourceFn = void* (*)(void*);
    auto get = reinterpret_cast<GetInputSourceFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetInputSource")));
    if (!get) return 1;
    void* source = get(nullptr);
    uint8_t buffer[16] = {};
    Expect(CallSlot<int32_t>(source, 2, int32_t{99}, static_cast<void*>(nullptr)), -1, "GetInfo (slot 2)");
    Expect(CallSlot<int32_t>(source, 3, int32_t{33}, L"12"), 0, "SetInfo (slot 3)");
    Expect(CallSlot<int32_t>(source, 4, int32_t{4}), 1, "DoCommand (slot 4)");
    Expect(CallSlot<int32_t>(source, 5, static_cast<void*>(buffer), int32_t{16}), 0, "Read (slot 5)");
    Expect(CallSlot<int32_t>(source, 6), -1, "FillBuffer (slot 6)");
    Expect(CallSlot<int32_t>(source, 7), 0, "ResetBuffer (slot 7)");
    // Still alive after slots 6 and 7: Open without a host fails.
    Expect(CallSlot<int32_t>(source, 1, L"C:\\none.dsf"), -1, "Open (slot 1)");
    Expect(CallSlot<int32_t>(source, 4, int32_t{4}), 1, "DoCommand (slot 4) again");
    CallSlot<void>(source, 0, uint32_t{1});
    FreeLibrary(module);
    if (failures == 0) std::printf("windows_slots: every slot answered as expected\n");
    return failures == 0 ? 0 : 1;
}
