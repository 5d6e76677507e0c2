// Win32 backend of the popup window: a modal dialog built in memory from the
// popup's controls, in the system's message font (the dialog manager scales it
// for the monitor's DPI). The dialog manager gives keyboard navigation: Tab
// moves between controls, Enter presses OK (the default button), Escape Cancel.
#if defined(_WIN32)
#include <windows.h>

#include <cstring>
#include <vector>

#include "ui/KwPopupWindow.h"

namespace {

constexpr short kMargin = 7;
constexpr short kWidth = 260;  // dialog units
constexpr short kLineHeight = 9;
constexpr short kGap = 4;
constexpr short kButtonWidth = 50;
constexpr short kButtonHeight = 14;
constexpr WORD kFirstControlId = 100;

// Builds a DLGTEMPLATE with its items in a WORD buffer.
class TemplateWriter {
public:
    void Word(WORD w) { data_.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const KwString& text) {
        for (KwChar c : text) Word(static_cast<WORD>(c));
        Word(0);
    }
    void AlignDword() {
        if (data_.size() % 2) Word(0);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const KwString& text) {
        AlignDword();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        for (short v : {x, y, cx, cy}) Word(static_cast<WORD>(v));
        Word(id);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0);  // no creation data
    }
    std::vector<WORD>& Data() { return data_; }

private:
    std::vector<WORD> data_;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboAtom = 0x0085;

// Lines a paragraph needs at the dialog's width: an average character is four
// dialog units wide; words are not split, so allow a little more.
short ParagraphLines(const KwString& text, short width) {
    const size_t perLine = static_cast<size_t>(width / 4) * 11 / 12;
    return static_cast<short>(text.size() / (perLine ? perLine : 1) + 1);
}

// The message font of the system, in points at the current DPI.
void SystemFont(KwString& face, WORD& points) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    face = L"MS Shell Dlg";
    points = 8;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return;
    face = metrics.lfMessageFont.lfFaceName;
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    const LONG height = metrics.lfMessageFont.lfHeight < 0 ? -metrics.lfMessageFont.lfHeight
                                                           : metrics.lfMessageFont.lfHeight;
    const int size = MulDiv(static_cast<int>(height), 72, dpi > 0 ? dpi : 96);
    if (size > 0) points = static_cast<WORD>(size);
}

std::vector<WORD> BuildTemplate(KwPopupWindow& popup) {
    const auto& controls = popup.Controls();
    TemplateWriter items;
    const short inner = kWidth - 2 * kMargin;
    short y = kMargin;
    WORD id = kFirstControlId;
    for (const auto& control : controls) {
        switch (control->GetKind()) {
            case KwControl::Kind::kLabel:
                items.Item(SS_LEFT, kMargin, y, inner, kLineHeight, id, kStaticAtom, control->Text());
                y += kLineHeight + 1;
                break;
            case KwControl::Kind::kParagraph: {
                const short height = static_cast<short>(ParagraphLines(control->Text(), inner) * (kLineHeight - 1));
                items.Item(SS_LEFT, kMargin, y, inner, height, id, kStaticAtom, control->Text());
                y += height + kGap;
                break;
            }
            case KwControl::Kind::kComboBox:
                // The height includes the dropped-down list.
                items.Item(CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kMargin, y, inner, 100, id, kComboAtom,
                           KwString());
                y += 14 + kGap;
                break;
            case KwControl::Kind::kCheckBox:
                items.Item(BS_AUTOCHECKBOX | WS_TABSTOP, kMargin, y, inner, 10, id, kButtonAtom, control->Text());
                y += 10 + kGap;
                break;
        }
        ++id;
    }
    y += kGap;
    const short okX = kWidth - kMargin - 2 * kButtonWidth - kGap;
    items.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, okX, y, kButtonWidth, kButtonHeight, IDOK, kButtonAtom, L"OK");
    items.Item(BS_PUSHBUTTON | WS_TABSTOP, okX + kButtonWidth + kGap, y, kButtonWidth, kButtonHeight, IDCANCEL,
               kButtonAtom, L"Cancel");
    const short height = y + kButtonHeight + kMargin;

    KwString face;
    WORD points = 8;
    SystemFont(face, points);
    TemplateWriter head;
    head.Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    head.Dword(0);
    head.Word(static_cast<WORD>(controls.size() + 2));
    for (short v : {short(0), short(0), kWidth, height}) head.Word(static_cast<WORD>(v));
    head.Word(0);  // no menu
    head.Word(0);  // the dialog class
    head.Text(popup.Title());
    head.Word(points);
    head.Text(face);
    std::vector<WORD> all = std::move(head.Data());
    if (all.size() % 2) all.push_back(0);
    const auto& rest = items.Data();
    // The items' writer aligned itself to its own start, which is DWORD-aligned here.
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

void LoadControls(HWND dialog, KwPopupWindow& popup) {
    WORD id = kFirstControlId;
    for (const auto& control : popup.Controls()) {
        if (control->GetKind() == KwControl::Kind::kComboBox) {
            auto& combo = static_cast<KwComboBox&>(*control);
            for (const auto& item : combo.Items())
                SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text.c_str()));
            SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(combo.SelectedIndex()), 0);
        } else if (control->GetKind() == KwControl::Kind::kCheckBox) {
            CheckDlgButton(dialog, id, static_cast<KwCheckBox&>(*control).IsChecked() ? BST_CHECKED : BST_UNCHECKED);
        }
        ++id;
    }
}

void StoreControls(HWND dialog, KwPopupWindow& popup) {
    WORD id = kFirstControlId;
    for (const auto& control : popup.Controls()) {
        if (control->GetKind() == KwControl::Kind::kComboBox) {
            const LRESULT index = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
            static_cast<KwComboBox&>(*control).SetSelectedIndex(index == CB_ERR ? -1 : static_cast<int>(index));
        } else if (control->GetKind() == KwControl::Kind::kCheckBox) {
            static_cast<KwCheckBox&>(*control).SetChecked(IsDlgButtonChecked(dialog, id) == BST_CHECKED);
        }
        ++id;
    }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* popup = reinterpret_cast<KwPopupWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            LoadControls(dialog, *reinterpret_cast<KwPopupWindow*>(lParam));
            return TRUE;
        case WM_COMMAND:
            if (!popup) return FALSE;
            if (LOWORD(wParam) == IDOK) {
                StoreControls(dialog, *popup);
                popup->OnOK();
            } else if (LOWORD(wParam) == IDCANCEL) {
                popup->OnCancel();
            } else {
                return FALSE;
            }
            if (!popup->IsOpen()) EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&DialogProc), &module);
    return module;
}

}  // namespace

KwPopupDriver KwSetHeadlessPopupDriver(KwPopupDriver driver) { return driver; }

bool KwRunPopupBackend(KwPopupWindow& popup) {
    std::vector<WORD> dialogTemplate = BuildTemplate(popup);
    // DialogBoxIndirect wants the template DWORD-aligned.
    std::vector<DWORD> aligned((dialogTemplate.size() + 1) / 2);
    std::memcpy(aligned.data(), dialogTemplate.data(), dialogTemplate.size() * sizeof(WORD));
    const INT_PTR result = DialogBoxIndirectParamW(ThisModule(), reinterpret_cast<LPCDLGTEMPLATEW>(aligned.data()),
                                                   nullptr, DialogProc, reinterpret_cast<LPARAM>(&popup));
    return result > 0;
}
#endif
