// The toolkit's fixed-size modal popup with OK and Cancel buttons.
//
// A popup holds a vertical list of controls (labels, wrapped paragraphs,
// drop-down lists, check boxes) whose state lives in plain objects here; the
// platform backend (Win32 dialog, or the headless backend of other builds)
// mirrors that state into real controls while the popup runs and copies the
// user's changes back before OK is handled.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "support/KwTypes.h"

class KwControl {
public:
    enum class Kind { kLabel, kParagraph, kComboBox, kCheckBox };
    KwControl(Kind kind, KwString text) : kind_(kind), text_(std::move(text)) {}
    virtual ~KwControl() = default;
    Kind GetKind() const { return kind_; }
    const KwString& Text() const { return text_; }

private:
    Kind kind_;
    KwString text_;
};

// A drop-down list whose items carry a value text beside their display text.
class KwComboBox : public KwControl {
public:
    struct Item {
        KwString text;
        KwString value;
    };
    KwComboBox() : KwControl(Kind::kComboBox, KwString()) {}

    void AddItem(KwString text, KwString value) { items_.push_back({std::move(text), std::move(value)}); }
    // Selects the first item whose value text equals `value`; false (selection
    // unchanged) when no item carries it.
    bool SelectByValue(KwStringView value);
    bool SelectByValue(int32_t value);
    // The selected item's value text converted to an integer; 0 when nothing
    // is selected.
    int32_t SelectedValue() const;
    // -1 when nothing is selected.
    int SelectedIndex() const { return selected_; }
    // Out-of-range indices select nothing.
    void SetSelectedIndex(int index) { selected_ = index >= 0 && index < static_cast<int>(items_.size()) ? index : -1; }
    const std::vector<Item>& Items() const { return items_; }

private:
    std::vector<Item> items_;
    int selected_ = -1;
};

class KwCheckBox : public KwControl {
public:
    explicit KwCheckBox(KwString text) : KwControl(Kind::kCheckBox, std::move(text)) {}
    bool IsChecked() const { return checked_; }
    void SetChecked(bool checked) { checked_ = checked; }

private:
    bool checked_ = false;
};

class KwPopupWindow {
public:
    enum class Result { kOK, kCancel, kFailed };

    KwPopupWindow() = default;
    KwPopupWindow(const KwPopupWindow&) = delete;
    KwPopupWindow& operator=(const KwPopupWindow&) = delete;
    virtual ~KwPopupWindow() = default;

    virtual KwString Title() = 0;
    // Builds the controls, top to bottom; called when the popup opens.
    virtual void CreateControls() = 0;
    // Default OK: marks the result as OK and closes.
    virtual void OnOK() { Close(Result::kOK); }
    // Default Cancel: closes; nothing else.
    virtual void OnCancel() { Close(Result::kCancel); }

    // Shows the popup modally without an owner window and returns when it
    // closes: kOK or kCancel, or kFailed when no window could be shown.
    Result RunModal();

    // Layout: each call appends a control below the previous ones.
    std::shared_ptr<KwControl> AddLabel(KwString text);
    std::shared_ptr<KwControl> AddParagraph(KwString text);
    std::shared_ptr<KwComboBox> AddComboBox();
    std::shared_ptr<KwCheckBox> AddCheckBox(KwString text);

    const std::vector<std::shared_ptr<KwControl>>& Controls() const { return controls_; }
    bool IsOpen() const { return open_; }
    void Close(Result result) {
        result_ = result;
        open_ = false;
    }

private:
    std::vector<std::shared_ptr<KwControl>> controls_;
    Result result_ = Result::kCancel;
    bool open_ = false;
};

// The platform part of RunModal: shows the popup whose controls exist and
// returns when IsOpen() turns false; false when no window could be shown.
bool KwRunPopupBackend(KwPopupWindow& popup);

// Headless backend: the function that plays the user while a popup runs (it
// changes controls and calls OnOK or OnCancel). Without one a popup cannot be
// shown and RunModal reports kFailed. Returns the previous driver.
using KwPopupDriver = std::function<void(KwPopupWindow&)>;
KwPopupDriver KwSetHeadlessPopupDriver(KwPopupDriver driver);
