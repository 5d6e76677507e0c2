// KwSettingsStore: the reference host's persistent settings, integers kept per
// section path ("Plugins\Input\DSD") in a small UTF-8 text file:
//
//   [Plugins\Input\DSD]
//   Low-pass mode=1
//
// The file lives in the user's configuration folder (dsdhost/settings.ini).
// Every Load re-reads it, so a value written by another process is seen.
//
// Nothing in the file is lost by a write: a write changes the one line that
// holds the value (or adds one) and keeps every other line as it was,
// including comments, unknown keys and lines the store cannot read. Lines it
// cannot read are ignored when reading and listed by Problems(). A file that
// cannot be read whole (larger than 1 MiB, or an I/O error) reads as empty
// and is never rewritten.
//
// Writers hold an exclusive lock across processes (the file "settings.ini.lock"
// beside it) for the whole read-modify-write, and replace the file atomically
// (temporary file in the same folder, flushed, then renamed), so neither a
// concurrent writer nor a crash loses a value. Temporary files that a killed
// writer left behind are removed by the next writer. Nothing throws.
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

    // Re-reads the file. An absent file reads as empty.
    void Load();

    // Section and key names are compared without regard to case.
    bool TryGetInteger(KwStringView section, KwStringView key, int32_t* value) const;
    int32_t GetInteger(KwStringView section, KwStringView key, int32_t defaultValue) const;
    // Under the cross-process lock: re-reads the file, stores the value and
    // writes the file back. False when the name cannot be stored, the file
    // cannot be read whole, or it cannot be written.
    bool SetInteger(KwStringView section, KwStringView key, int32_t value);

    const std::vector<Section>& Sections() const { return sections_; }
    // What the last Load ignored, one text per line or file ("line 3
    // (\"Low-pass mode=two\"): the value is not a 32-bit integer").
    const std::vector<std::string>& Problems() const { return problems_; }

    // The text form. Parse reads every line it can; lines that are not blank,
    // a comment (";" or "#"), a section header or a "key=value" line with a
    // 32-bit decimal value inside a section are skipped and, when `problems`
    // is given, described there.
    static void Parse(std::string_view text, std::vector<Section>& sections,
                      std::vector<std::string>* problems = nullptr);
    // `text` with the value stored: the line that holds it now (the last one
    // of the key in the section) gets the new value, otherwise a line is added
    // at the end of the section, or the section at the end of the text.
    static std::string WithValue(std::string_view text, KwStringView section, KwStringView key, int32_t value);
    // A section path or key that the text form can hold.
    static bool IsValidSectionName(KwStringView name);
    static bool IsValidKey(KwStringView key);

private:
    bool WriteFile(const std::string& text) const;
    void RemoveStaleTemporaries() const;

    KwString filePath_;
    std::string text_;       // the file as last read
    bool readable_ = true;   // false when the file exists but could not be read whole
    std::vector<Section> sections_;
    std::vector<std::string> problems_;
};
