#include "ui/KwPopupWindow.h"

#include "plugin/SharedToolsHelper.h"
#include "support/KwNumbers.h"

bool KwComboBox::SelectByValue(KwStringView value) {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].value == value) {
            selected_ = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

bool KwComboBox::SelectByValue(int32_t value) { return SelectByValue(KwFormatInt32(value)); }

int32_t KwComboBox::SelectedValue() const {
    return selected_ < 0 ? 0 : KwParseInt32(items_[static_cast<size_t>(selected_)].value);
}

std::shared_ptr<KwControl> KwPopupWindow::AddLabel(KwString text) {
    controls_.push_back(std::make_shared<KwControl>(KwControl::Kind::kLabel, std::move(text)));
    return controls_.back();
}

std::shared_ptr<KwControl> KwPopupWindow::AddParagraph(KwString text) {
    controls_.push_back(std::make_shared<KwControl>(KwControl::Kind::kParagraph, std::move(text)));
    return controls_.back();
}

std::shared_ptr<KwComboBox> KwPopupWindow::AddComboBox() {
    auto combo = std::make_shared<KwComboBox>();
    controls_.push_back(combo);
    return combo;
}

std::shared_ptr<KwCheckBox> KwPopupWindow::AddCheckBox(KwString text) {
    auto check = std::make_shared<KwCheckBox>(std::move(text));
    controls_.push_back(check);
    return check;
}

KwPopupWindow::Result KwPopupWindow::RunModal() {
    // The image library serves the toolkit's windows; it is attached once and
    // released when the module unloads its host libraries.
    CKwSharedToolsHelper::Instance().LoadImageLibrary(KwString());
    controls_.clear();
    result_ = Result::kCancel;
    open_ = true;
    CreateControls();
    const bool shown = KwRunPopupBackend(*this);
    open_ = false;
    // The window's controls go with the window; references the caller keeps
    // stay valid until it releases them.
    controls_.clear();
    return shown ? result_ : Result::kFailed;
}
