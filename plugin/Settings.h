// The plug-in's three user settings in the host's settings section
// "Plugins\Input\DSD". Each call reads or writes the store at that moment;
// nothing is cached, so a change reaches the next opened file.
#pragma once

#include <cstdint>

#include "support/KwTypes.h"

// Key names as stored.
inline constexpr const KwChar* kSettingLowPassMode = KW_T("Low-pass mode");
inline constexpr const KwChar* kSettingDstThreads = KW_T("DST Decoding Threads");
inline constexpr const KwChar* kSettingAdd6dB = KW_T("Add 6dB");

// Section path of the plug-in's settings.
KwString PluginSettingsSection();

// Missing tools library or section: getters return 0, setters do nothing.
int32_t GetLowPassMode();
void SetLowPassMode(int32_t mode);
// The low-pass mode playback uses and the status text reports: the stored
// value when it names a mode (0 to 3), else 0 (Safe), the default, which is
// also what the conversion makes of any other value.
int32_t GetEffectiveLowPassMode();
int32_t GetDstDecodingThreads();
void SetDstDecodingThreads(int32_t threads);
bool GetAdd6dB();
void SetAdd6dB(bool on);
