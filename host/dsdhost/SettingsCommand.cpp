#include "host/dsdhost/SettingsCommand.h"

#include <charconv>
#include <cstdio>

#include "host/common/KwSettingsStore.h"
#include "host/dsdhost/PluginHost.h"

namespace {

const char* const kSection = "Plugins\\Input\\DSD";

struct KeyRange {
    const char* key;
    int low, high;
    const char* meaning;
};

// What the configuration window offers for each key.
const KeyRange kRanges[] = {
    {"Low-pass mode", 0, 3, "0 Safe, 1 Medium, 2 Permissive, 3 Off"},
    {"DST Decoding Threads", 0, 4, "0 automatic, 1 to 4 threads"},
    {"Add 6dB", 0, 1, "0 off, 1 on"},
};

// Lines of the settings file that the store could not read are kept in the
// file but play no part; say which ones.
void ReportIgnoredLines() {
    KwSettingsStore store;
    for (const std::string& problem : store.Problems())
        fprintf(stderr, "dsdhost: %s: ignored %s\n", KwToUtf8(store.FilePath()).c_str(), problem.c_str());
}

}  // namespace

const std::vector<std::string>& SettingKeys() {
    static const std::vector<std::string> keys = {kRanges[0].key, kRanges[1].key, kRanges[2].key};
    return keys;
}

std::string CheckSettingValue(const std::string& key, const std::string& text, int* value) {
    for (const KeyRange& range : kRanges) {
        if (key != range.key) continue;
        int number = 0;
        const char* begin = text.data();
        const char* end = begin + text.size();
        const auto [stop, error] = std::from_chars(begin, end, number, 10);
        if (text.empty() || error != std::errc() || stop != end || number < range.low || number > range.high)
            return "\"" + key + "\" takes a whole number from " + std::to_string(range.low) + " to " +
                   std::to_string(range.high) + " (" + range.meaning + "), not \"" + text + "\"";
        *value = number;
        return {};
    }
    return "there is no setting \"" + key + "\"";
}

int RunSettingsCommand(ToolsLibrary& tools, const std::string& action, const std::string& key,
                       const std::string& value) {
    int number = 0;
    if (action == "set") {
        const std::string refusal = CheckSettingValue(key, value, &number);
        if (!refusal.empty()) {
            fprintf(stderr, "dsdhost: %s\n", refusal.c_str());
            return 1;
        }
    }
    if (!tools.Tools()) {
        fprintf(stderr, "dsdhost: %s\n", tools.Error().c_str());
        return 1;
    }
    ReportIgnoredLines();
    KwPtr<IKwSettings> settings(tools.Tools()->OpenSettings(KwFromUtf8(kSection).c_str(), 0));
    if (!settings) {
        fprintf(stderr, "dsdhost: the settings store cannot be opened\n");
        return 1;
    }
    if (action == "list") {
        for (const auto& k : SettingKeys())
            printf("%s=%d\n", k.c_str(), settings->GetInteger(KwFromUtf8(k).c_str(), 0, 0, 0));
        return 0;
    }
    if (action == "get") {
        printf("%d\n", settings->GetInteger(KwFromUtf8(key).c_str(), 0, 0, 0));
        return 0;
    }
    if (!settings->SetInteger(KwFromUtf8(key).c_str(), number, 0, 0)) {
        fprintf(stderr, "dsdhost: the setting could not be stored in %s\n",
                KwToUtf8(KwSettingsStore::DefaultFilePath()).c_str());
        return 1;
    }
    return 0;
}
