#include "plugin/Settings.h"

#include "plugin/SharedToolsHelper.h"
#include "plugin/kwapi/IKwTools.h"

KwString PluginSettingsSection() { return KwString(KW_T("Plugins\\Input")) + KW_T("\\DSD"); }

namespace {

KwPtr<IKwSettings> OpenPluginSettings() {
    IKwTools* tools = CKwSharedToolsHelper::Instance().GetTools();
    if (!tools) return nullptr;
    return KwPtr<IKwSettings>(tools->OpenSettings(PluginSettingsSection().c_str(), 0));
}

int32_t ReadInteger(const KwChar* key) {
    auto settings = OpenPluginSettings();
    return settings ? settings->GetInteger(key, 0, 0, 0) : 0;
}

void WriteInteger(const KwChar* key, int32_t value) {
    if (auto settings = OpenPluginSettings()) settings->SetInteger(key, value, 0, 0);
}

}  // namespace

int32_t GetLowPassMode() { return ReadInteger(kSettingLowPassMode); }
int32_t GetEffectiveLowPassMode() {
    const int32_t mode = GetLowPassMode();
    return mode >= 0 && mode <= 3 ? mode : 0;
}
void SetLowPassMode(int32_t mode) { WriteInteger(kSettingLowPassMode, mode); }
int32_t GetDstDecodingThreads() { return ReadInteger(kSettingDstThreads); }
void SetDstDecodingThreads(int32_t threads) { WriteInteger(kSettingDstThreads, threads); }
bool GetAdd6dB() { return ReadInteger(kSettingAdd6dB) != 0; }
void SetAdd6dB(bool on) { WriteInteger(kSettingAdd6dB, on ? 1 : 0); }
