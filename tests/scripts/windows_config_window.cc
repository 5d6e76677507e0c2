// Plays the user of the plug-in's configuration window on the Windows build:
// the main thread runs command 1 of an input source (a modal dialog); a second
// thread finds the window, checks its controls, changes each, saves a
// screenshot of it as a BMP file, moves the focus with Tab and closes the
// window with Enter (OK) or Escape (Cancel). Built with
// mingw-w64, run under wine and Xvfb by windows_config_window.sh.
//   windows_config_window.exe PLUGIN.dll LOWPASS_INDEX THREAD_INDEX CHECK OK|CANCEL SHOT.bmp
// (an index or CHECK of -1 leaves that control alone)
#include <windows.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

template <class R, class... Args>
R CallSlot(void* object, int slot, Args... args) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, Args...)>(table[slot])(object, args...);
}

struct Plan {
    int lowPass = 0, threads = 0, check = 0;
    bool ok = true;
    const char* shot = nullptr;
};

Plan g_plan;
int g_failures = 0;

void Expect(bool condition, const char* what) {
    if (condition) return;
    std::printf("windows_config_window: %s\n", what);
    ++g_failures;
}

struct Controls {
    std::vector<HWND> combos, checks, buttons;
};

BOOL CALLBACK Collect(HWND child, LPARAM param) {
    auto* controls = reinterpret_cast<Controls*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (_wcsicmp(cls, L"ComboBox") == 0) {
        controls->combos.push_back(child);
    } else if (_wcsicmp(cls, L"Button") == 0) {
        const LONG style = GetWindowLongW(child, GWL_STYLE) & 0xF;
        (style == BS_AUTOCHECKBOX ? controls->checks : controls->buttons).push_back(child);
    }
    return TRUE;
}

// The window's pixels as a 24-bit BMP file.
bool SaveShot(HWND window, const char* path) {
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path, "wb");
    if (!out) return false;
    const bool ok = std::fwrite(&file, sizeof(file), 1, out) == 1 && std::fwrite(&info, sizeof(info), 1, out) == 1 &&
                    std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
    return std::fclose(out) == 0 && ok;
}

DWORD WINAPI User(void*) {
    HWND window = nullptr;
    // The dialog is complete once it is visible (its controls and their
    // contents exist before it is shown).
    for (int i = 0; i < 200 && !(window && IsWindowVisible(window)); ++i) {
        Sleep(50);
        window = FindWindowW(nullptr, L"DSD Configuration");
    }
    Sleep(200);
    if (!window) {
        std::printf("windows_config_window: the window did not appear\n");
        std::fflush(stdout);
        ExitProcess(1);
    }
    Controls controls;
    EnumChildWindows(window, Collect, reinterpret_cast<LPARAM>(&controls));
    Expect(controls.combos.size() == 2, "two drop-down lists expected");
    Expect(controls.checks.size() == 1, "one check box expected");
    Expect(controls.buttons.size() == 2, "OK and Cancel expected");
    if (g_failures) ExitProcess(1);
    Expect(SendMessageW(controls.combos[0], CB_GETCOUNT, 0, 0) == 4, "four low-pass items expected");
    Expect(SendMessageW(controls.combos[1], CB_GETCOUNT, 0, 0) == 5, "five thread items expected");
    wchar_t text[64] = {};
    SendMessageW(controls.combos[1], CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
    Expect(std::wcscmp(text, L"Auto") == 0, "the first thread item is not \"Auto\"");
    std::printf("shown: low-pass %d, threads %d, +6dB %d\n",
                static_cast<int>(SendMessageW(controls.combos[0], CB_GETCURSEL, 0, 0)),
                static_cast<int>(SendMessageW(controls.combos[1], CB_GETCURSEL, 0, 0)),
                static_cast<int>(SendMessageW(controls.checks[0], BM_GETCHECK, 0, 0)));
    // -1 leaves a control as it is.
    if (g_plan.lowPass >= 0) SendMessageW(controls.combos[0], CB_SETCURSEL, g_plan.lowPass, 0);
    if (g_plan.threads >= 0) SendMessageW(controls.combos[1], CB_SETCURSEL, g_plan.threads, 0);
    if (g_plan.check >= 0)
        SendMessageW(controls.checks[0], BM_SETCHECK, g_plan.check ? BST_CHECKED : BST_UNCHECKED, 0);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    if (g_plan.shot) Expect(SaveShot(window, g_plan.shot), "the screenshot could not be saved");
    // The keyboard, through the dialog manager: Tab moves the focus to the
    // next control, then Enter presses OK (the default button) or Escape Cancel.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    const DWORD dialogThread = GetWindowThreadProcessId(window, nullptr);
    GetGUIThreadInfo(dialogThread, &gui);
    const HWND first = gui.hwndFocus;
    Expect(first != nullptr, "no control has the focus");
    PostMessageW(first, WM_KEYDOWN, VK_TAB, 0);
    PostMessageW(first, WM_KEYUP, VK_TAB, 0);
    Sleep(300);
    GetGUIThreadInfo(dialogThread, &gui);
    Expect(gui.hwndFocus != nullptr && gui.hwndFocus != first, "Tab did not move the focus");
    const WPARAM key = g_plan.ok ? VK_RETURN : VK_ESCAPE;
    PostMessageW(gui.hwndFocus, WM_KEYDOWN, key, 0);
    PostMessageW(gui.hwndFocus, WM_KEYUP, key, 0);
    for (int i = 0; i < 100 && IsWindow(window); ++i) Sleep(50);
    Expect(!IsWindow(window), "the key did not close the window");
    if (IsWindow(window)) SendMessageW(window, WM_COMMAND, g_plan.ok ? IDOK : IDCANCEL, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7) return 2;
    g_plan.lowPass = std::atoi(argv[2]);
    g_plan.threads = std::atoi(argv[3]);
    g_plan.check = std::atoi(argv[4]);
    g_plan.ok = std::strcmp(argv[5], "OK") == 0;
    g_plan.shot = argv[6];
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) return 3;
    using GetInputSourceFn = void* (*)(void*);
    auto get = reinterpret_cast<GetInputSourceFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetInputSource")));
    void* source = get ? get(nullptr) : nullptr;
    if (!source) return 4;
    HANDLE user = CreateThread(nullptr, 0, User, nullptr, 0, nullptr);
    // Slot 4: DoCommand; command 1 returns when the window closes.
    Expect(CallSlot<int32_t>(source, 4, int32_t{1}) == 0, "command 1 did not return 0");
    // A window that could not be created returns at once, before the user
    // thread has seen anything.
    Expect(WaitForSingleObject(user, 10000) == WAIT_OBJECT_0, "the window did not appear");
    CallSlot<void>(source, 0, uint32_t{1});
    FreeLibrary(module);
    std::printf("closed with %s\n", argv[5]);
    return g_failures ? 1 : 0;
}
