#include "plugin/ConfigWindow.h"

#include "plugin/Settings.h"
#include "plugin/SharedToolsHelper.h"
#include "support/KwDllString.h"
#include "support/KwNumbers.h"

namespace {

// A user-visible text as the host's translator gives it (unchanged when the
// tools library is not loaded or the text is empty).
KwString Translated(const KwChar* text) {
    KwString result(text);
    if (result.empty()) return result;
    CKwSharedToolsHelper& helper = CKwSharedToolsHelper::Instance();
    if (!helper.IsToolsLoaded()) return result;
    if (IKwTools* tools = helper.GetTools()) {
        if (IKwTranslator* translator = tools->GetTranslator(true)) {
            KwDllString translated(result);
            translator->Translate(&translated);
            result = translated.Text();
        }
    }
    return result;
}

struct ListItem {
    const KwChar* text;
    int32_t value;
};

constexpr ListItem kLowPassItems[] = {
    {KW_T("Safe (24 kHz @ 48dB/octave)"), 0},
    {KW_T("Medium (30 kHz @ 24dB/octave)"), 1},
    {KW_T("Permissive (50 kHz @ 24dB/octave)"), 2},
    {KW_T("Off (external low-pass strongly recommended)"), 3},
};

constexpr ListItem kThreadItems[] = {
    {KW_T("Auto"), 0}, {KW_T("1 Thread"), 1}, {KW_T("2 Threads"), 2}, {KW_T("3 Threads"), 3}, {KW_T("4 Threads"), 4},
};

template <size_t N>
void FillList(KwComboBox& combo, const ListItem (&items)[N], int32_t selectedValue) {
    for (const ListItem& item : items) combo.AddItem(Translated(item.text), KwFormatInt32(item.value));
    // A stored value that matches no item leaves the list as the toolkit has it.
    combo.SelectByValue(selectedValue);
}

}  // namespace

CDSDConfigureWnd::~CDSDConfigureWnd() {
    lowPass_.reset();
    threads_.reset();
    add6dB_.reset();
}

KwString CDSDConfigureWnd::Title() { return Translated(KW_T("DSD Configuration")); }

void CDSDConfigureWnd::CreateControls() {
    AddLabel(Translated(KW_T("Low-pass filter used for DSD-to-PCM conversion:")));
    lowPass_ = AddComboBox();
    FillList(*lowPass_, kLowPassItems, GetLowPassMode());
    AddParagraph(Translated(KW_T(
        "DSD requires a low-pass filter to remove high frequency noise present in the 1-bit DSD format.  If you "
        "leave this noise, it can cause audible distortion or damage to your equipment.  You can use Tonvira > "
        "Analyzer to view frequency information during playback.")));
    AddLabel(Translated(KW_T("Number of threads for SACD/DFF DST decompression:")));
    threads_ = AddComboBox();
    FillList(*threads_, kThreadItems, GetDstDecodingThreads());
    add6dB_ = AddCheckBox(Translated(KW_T("Increase volume of DSD to PCM by +6dB")));
    add6dB_->SetChecked(GetAdd6dB());
}

void CDSDConfigureWnd::OnOK() {
    SetLowPassMode(lowPass_->SelectedValue());
    SetDstDecodingThreads(threads_->SelectedValue());
    SetAdd6dB(add6dB_->IsChecked());
    KwPopupWindow::OnOK();
}

KwPopupWindow::Result RunConfigWindow() {
    CDSDConfigureWnd window;
    return window.RunModal();
}
