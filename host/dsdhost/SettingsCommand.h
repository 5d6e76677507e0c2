// `dsdhost settings get|set|list`: the plug-in's three settings in the host's
// settings store, with each value checked against what the plug-in accepts.
#pragma once

#include <string>
#include <vector>

class ToolsLibrary;

// The keys, in the order `list` prints them.
const std::vector<std::string>& SettingKeys();

// Checks a value typed for `key`: empty when it is a whole number in the
// key's range, else the message that refuses it.
std::string CheckSettingValue(const std::string& key, const std::string& text, int* value);

// Runs the command ("get", "set" or "list"); returns the exit code.
int RunSettingsCommand(ToolsLibrary& tools, const std::string& action, const std::string& key,
                       const std::string& value);
