// KwSettingsStore: the reference host's persistent settings, integers kept per
// section path ("Plugins\Input\DSD") in a small UTF-8 text file:
//
//   [Plugins\Input\DSD]
//   Low-pass mode=1
//
// The file lives in the user's configuration folder (dsdhost/settings.ini).
// Every Load re-reads it, so a value written by another process is seen.
// Writes re-read the file, change the one value and replace the file
// atomically (temporary file in the same folder, flushed, then renamed), so a
// crash never leaves a half-written file. A damaged file reads as empty; a
// location that cannot be written makes writes fail quietly. Nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/KwTypes.h"

class KwSettingsStore {
public:
    struct Section {
        KwString name;
        std::vector<std::pair<KwString, int32_t>> values;
    };

    // The store in the default file; loads it.
    KwSettingsStore();
    // The store in `filePath`; loads it.
    explicit KwSettingsStore(KwString filePath);

    // <user configuration folder>/dsdhost/settings.ini
    static KwString DefaultFilePath();
    const KwString& FilePath() const { return filePath_; }

    // Re-reads the file. An absent, unreadable or damaged file reads as empty.
    void Load();

    // Section and key names are compared without regard to case.
    bool TryGetInteger(KwStringView section, KwStringView key, int32_t* value) const;
    int32_t GetInteger(KwStringView section, KwStringView key, int32_t defaultValue) const;
    // Re-reads the file, stores the value and writes the file back. False when
    // the name cannot be stored or the file cannot be written (the value is
    // still kept in this object).
    bool SetInteger(KwStringView section, KwStringView key, int32_t value);

    const std::vector<Section>& Sections() const { return sections_; }

    // The text form. Parse fails (and leaves `sections` empty) on any line
    // that is not blank, a comment (";" or "#"), a section header or a
    // "key=value" line with a 32-bit decimal value inside a section.
    static bool Parse(std::string_view text, std::vector<Section>& sections);
    static std::string Format(const std::vector<Section>& sections);
    // A section path or key that the text form can hold.
    static bool IsValidSectionName(KwStringView name);
    static bool IsValidKey(KwStringView key);

private:
    bool WriteFile() const;

    KwString filePath_;
    std::vector<Section> sections_;
};
