// CDSDConfigureWnd: the configuration window of the three settings (low-pass
// filter, DST thread count, +6 dB gain). Runs modally and writes the settings
// on OK; Cancel writes nothing.
#pragma once

#include <memory>

#include "ui/KwPopupWindow.h"

class CDSDConfigureWnd : public KwPopupWindow {
public:
    ~CDSDConfigureWnd() override;
    KwString Title() override;
    void CreateControls() override;
    void OnOK() override;

private:
    std::shared_ptr<KwComboBox> lowPass_;
    std::shared_ptr<KwComboBox> threads_;
    std::shared_ptr<KwCheckBox> add6dB_;
};

// Shows the window without an owner and returns when it closes.
KwPopupWindow::Result RunConfigWindow();
