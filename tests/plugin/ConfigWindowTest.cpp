// The configuration window through the headless toolkit backend: the driver
// below plays the user (reads the controls, changes them, presses a button).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "plugin/ConfigWindow.h"
#include "plugin/DSDInputSource.h"
#include "plugin/Settings.h"
#include "tests/plugin/TestEnv.h"

namespace {

struct Seen {
    KwString title;
    std::vector<KwString> texts;  // every control's text, top to bottom
    std::vector<KwString> lowPassItems;
    int lowPass = -2, threads = -2;
    bool checked = false;
};

// What the user does: -1 leaves a list alone; `check` < 0 leaves the box alone.
struct Action {
    int lowPassIndex = -1, threadIndex = -1, check = -1;
    bool ok = true;
};

class ConfigWindowTest : public ::testing::Test {
protected:
    void SetUp() override { helper_.UnloadAll(); }
    void TearDown() override {
        KwSetHeadlessPopupDriver(nullptr);
        helper_.UnloadAll();
    }

    KwPopupWindow::Result Run(const Action& action, Seen* seen = nullptr) {
        KwSetHeadlessPopupDriver([&](KwPopupWindow& popup) {
            auto& controls = popup.Controls();
            EXPECT_EQ(controls.size(), 6u);
            auto* lowPass = static_cast<KwComboBox*>(controls[1].get());
            auto* threads = static_cast<KwComboBox*>(controls[4].get());
            auto* check = static_cast<KwCheckBox*>(controls[5].get());
            if (seen) {
                seen->title = popup.Title();
                for (const auto& control : controls) seen->texts.push_back(control->Text());
                for (const auto& item : lowPass->Items()) seen->lowPassItems.push_back(item.text);
                seen->lowPass = lowPass->SelectedIndex();
                seen->threads = threads->SelectedIndex();
                seen->checked = check->IsChecked();
            }
            if (action.lowPassIndex >= 0) lowPass->SetSelectedIndex(action.lowPassIndex);
            if (action.threadIndex >= 0) threads->SetSelectedIndex(action.threadIndex);
            if (action.check >= 0) check->SetChecked(action.check != 0);
            if (action.ok)
                popup.OnOK();
            else
                popup.OnCancel();
        });
        return RunConfigWindow();
    }

    void Store(int32_t lowPass, int32_t threads, int32_t add6dB) {
        KwPtr<IKwSettings> raw(helper_.GetTools()->OpenSettings(PluginSettingsSection().c_str(), 0));
        raw->SetInteger(kSettingLowPassMode, lowPass, 0, 0);
        raw->SetInteger(kSettingDstThreads, threads, 0, 0);
        raw->SetInteger(kSettingAdd6dB, add6dB, 0, 0);
    }
    std::string SettingsFile() const {
        std::ifstream in(dir_.Path() / "dsdhost" / "settings.ini");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    CKwSharedToolsHelper& helper_ = CKwSharedToolsHelper::Instance();
    TempDir dir_;
    ScopedEnv program_{"KW_PROGRAM_FOLDER", BinDir()};
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.Str()};
};

TEST_F(ConfigWindowTest, NoStoredSettingsShowDefaultsAndOkWritesTheThreeInOrder) {
    Seen seen;
    EXPECT_EQ(Run({}, &seen), KwPopupWindow::Result::kOK);
    EXPECT_EQ(seen.title, KW_T("DSD Configuration"));
    ASSERT_EQ(seen.texts.size(), 6u);
    EXPECT_EQ(seen.texts[0], KW_T("Low-pass filter used for DSD-to-PCM conversion:"));
    EXPECT_EQ(seen.texts[2].substr(0, 37), KW_T("DSD requires a low-pass filter to rem"));
    EXPECT_EQ(seen.texts[3], KW_T("Number of threads for SACD/DFF DST decompression:"));
    EXPECT_EQ(seen.texts[5], KW_T("Increase volume of DSD to PCM by +6dB"));
    ASSERT_EQ(seen.lowPassItems.size(), 4u);
    EXPECT_EQ(seen.lowPassItems[3], KW_T("Off (external low-pass strongly recommended)"));
    EXPECT_EQ(seen.lowPass, 0);
    EXPECT_EQ(seen.threads, 0);
    EXPECT_FALSE(seen.checked);
    // Written back in order, the check box as 0.
    EXPECT_EQ(SettingsFile(), "[Plugins\\Input\\DSD]\nLow-pass mode=0\nDST Decoding Threads=0\nAdd 6dB=0\n");
}

TEST_F(ConfigWindowTest, SelectionsFollowStoredValuesAndOnlyOkStores) {
    struct Case {
        int32_t lowPass, threads, add6dB;  // stored before
        Action action;
        int shownLowPass, shownThreads;
        int32_t wantLowPass, wantThreads, wantAdd6dB;
    };
    const Case cases[] = {
        {2, 3, 1, {}, 2, 3, 2, 3, 1},                            // OK unchanged
        {2, 3, 1, {0, 4, 0, false}, 2, 3, 2, 3, 1},              // Cancel after changing all
        {0, 0, 0, {3, 2, 1, true}, 0, 0, 3, 2, 1},               // every control changed
        {9, 7, 5, {}, -1, -1, 0, 0, 1},                          // out of range: nothing selected, valid values stored
        {9, 7, 0, {1, -1, -1, true}, -1, -1, 1, 0, 0},
    };
    for (const Case& c : cases) {
        Store(c.lowPass, c.threads, c.add6dB);
        Seen seen;
        EXPECT_EQ(Run(c.action, &seen), c.action.ok ? KwPopupWindow::Result::kOK : KwPopupWindow::Result::kCancel);
        EXPECT_EQ(seen.lowPass, c.shownLowPass);
        EXPECT_EQ(seen.threads, c.shownThreads);
        EXPECT_EQ(seen.checked, c.add6dB != 0);
        EXPECT_EQ(GetLowPassMode(), c.wantLowPass) << c.lowPass << " " << c.action.lowPassIndex;
        EXPECT_EQ(GetDstDecodingThreads(), c.wantThreads);
        EXPECT_EQ(GetAdd6dB(), c.wantAdd6dB != 0);
    }
}

TEST_F(ConfigWindowTest, TextsGoThroughTheTranslator) {
    WriteFile(dir_.Path() / "catalog.txt", "DSD Configuration=DSD-Einstellungen\nAuto=Automatisch\n");
    ScopedEnv catalog("KW_TRANSLATION_CATALOG", (dir_.Path() / "catalog.txt").string());
    KwString threadItem;
    KwSetHeadlessPopupDriver([&](KwPopupWindow& popup) {
        threadItem = static_cast<KwComboBox*>(popup.Controls()[4].get())->Items()[0].text;
        EXPECT_EQ(popup.Title(), KW_T("DSD-Einstellungen"));
        popup.OnCancel();
    });
    EXPECT_EQ(RunConfigWindow(), KwPopupWindow::Result::kCancel);
    EXPECT_EQ(threadItem, KW_T("Automatisch"));
}

TEST_F(ConfigWindowTest, CommandOneRunsTheWindowAndWithoutADisplayNothingIsStored) {
    Store(1, 2, 1);
    int runs = 0;
    KwSetHeadlessPopupDriver([&](KwPopupWindow& popup) {
        ++runs;
        static_cast<KwComboBox*>(popup.Controls()[1].get())->SetSelectedIndex(3);
        popup.OnOK();
    });
    CDSDInputSource source(nullptr);
    EXPECT_EQ(source.DoCommand(1), 0);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(GetLowPassMode(), 3);
    // No way to show a window: the run fails, nothing is written.
    KwSetHeadlessPopupDriver(nullptr);
    EXPECT_EQ(RunConfigWindow(), KwPopupWindow::Result::kFailed);
    EXPECT_EQ(source.DoCommand(1), 0);
    EXPECT_EQ(GetLowPassMode(), 3);
    EXPECT_EQ(GetDstDecodingThreads(), 2);
}

TEST(ConfigWindowToolkit, ComboBoxValues) {
    KwComboBox combo;
    EXPECT_EQ(combo.SelectedValue(), 0);
    combo.AddItem(KW_T("a"), KW_T("10"));
    combo.AddItem(KW_T("b"), KW_T("-3"));
    EXPECT_TRUE(combo.SelectByValue(-3));
    EXPECT_EQ(combo.SelectedValue(), -3);
    EXPECT_FALSE(combo.SelectByValue(KW_T("010")));  // value texts compare as texts
    EXPECT_EQ(combo.SelectedIndex(), 1);
    combo.SetSelectedIndex(2);
    EXPECT_EQ(combo.SelectedIndex(), -1);
}

}  // namespace
