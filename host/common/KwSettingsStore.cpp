#include "host/common/KwSettingsStore.h"

#include <charconv>
#include <new>

#include "host/common/KwHostFile.h"
#include "support/KwLock.h"
#include "support/KwPlatform.h"

namespace {

// A settings file is small; anything larger is not one of ours.
constexpr uint64_t kMaxSettingsFileBytes = 1u << 20;

// Serialises the read-modify-write cycles of the stores of this process.
KwCriticalSection& WriteLock() {
    // Built in static storage and never destroyed: usable during exit, and
    // nothing is left on the heap when the library is unloaded.
    alignas(KwCriticalSection) static unsigned char storage[sizeof(KwCriticalSection)];
    static KwCriticalSection* lock = new (storage) KwCriticalSection;
    return *lock;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool ParseInt32(std::string_view text, int32_t* value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    int32_t result = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result, 10);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    *value = result;
    return true;
}

bool HasLineBreakOrNul(KwStringView s) {
    for (KwChar c : s)
        if (c == KW_T('\n') || c == KW_T('\r') || c == 0) return true;
    return false;
}

bool HasOuterBlank(KwStringView s) {
    auto blank = [](KwChar c) { return c == KW_T(' ') || c == KW_T('\t'); };
    return !s.empty() && (blank(s.front()) || blank(s.back()));
}

KwSettingsStore::Section* FindSection(std::vector<KwSettingsStore::Section>& sections, KwStringView name) {
    for (auto& section : sections)
        if (KwEqualsNoCase(section.name, name)) return &section;
    return nullptr;
}

}  // namespace

KwSettingsStore::KwSettingsStore() : KwSettingsStore(DefaultFilePath()) {}

KwSettingsStore::KwSettingsStore(KwString filePath) : filePath_(std::move(filePath)) { Load(); }

KwString KwSettingsStore::DefaultFilePath() {
    try {
        KwString folder = KwGetUserConfigFolder();
        if (folder.empty()) return {};
        if (folder.back() != kKwPathSeparator && folder.back() != KW_T('/')) folder += kKwPathSeparator;
        return folder + KW_T("dsdhost") + kKwPathSeparator + KW_T("settings.ini");
    } catch (...) {
        return {};
    }
}

bool KwSettingsStore::IsValidSectionName(KwStringView name) {
    return !name.empty() && !HasLineBreakOrNul(name) && !HasOuterBlank(name) &&
           name.find(KW_T(']')) == KwStringView::npos;
}

bool KwSettingsStore::IsValidKey(KwStringView key) {
    return !key.empty() && !HasLineBreakOrNul(key) && !HasOuterBlank(key) &&
           key.find(KW_T('=')) == KwStringView::npos && key.front() != KW_T('[') && key.front() != KW_T(';') &&
           key.front() != KW_T('#');
}

bool KwSettingsStore::Parse(std::string_view text, std::vector<Section>& sections) {
    sections.clear();
    try {
        if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        Section* current = nullptr;
        while (!text.empty()) {
            const size_t end = text.find('\n');
            std::string_view line = Trim(text.substr(0, end));
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            if (line.empty() || line.front() == ';' || line.front() == '#') continue;
            bool good = line.find('\0') == std::string_view::npos;
            if (good && line.front() == '[') {
                const KwString name = line.back() == ']' ? KwFromUtf8(Trim(line.substr(1, line.size() - 2))) : KwString();
                good = IsValidSectionName(name);
                if (good) {
                    current = FindSection(sections, name);
                    if (!current) {
                        sections.push_back({name, {}});
                        current = &sections.back();
                    }
                }
            } else if (good) {
                const size_t equals = line.find('=');
                good = current && equals != std::string_view::npos;
                const KwString key = good ? KwFromUtf8(Trim(line.substr(0, equals))) : KwString();
                int32_t value = 0;
                good = good && IsValidKey(key) && ParseInt32(Trim(line.substr(equals + 1)), &value);
                if (good) {
                    bool found = false;
                    for (auto& entry : current->values) {
                        if (KwEqualsNoCase(entry.first, key)) {
                            entry.second = value;  // a repeated key: the last one counts
                            found = true;
                        }
                    }
                    if (!found) current->values.emplace_back(key, value);
                }
            }
            if (!good) {
                // One damaged line makes the whole file suspect: read it as empty.
                sections.clear();
                return false;
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        sections.clear();
        return false;
    }
}

std::string KwSettingsStore::Format(const std::vector<Section>& sections) {
    std::string text;
    for (const auto& section : sections) {
        if (section.values.empty()) continue;
        if (!text.empty()) text += '\n';
        text += '[' + KwToUtf8(section.name) + "]\n";
        for (const auto& [key, value] : section.values) text += KwToUtf8(key) + '=' + std::to_string(value) + '\n';
    }
    return text;
}

void KwSettingsStore::Load() {
    try {
        std::vector<uint8_t> bytes;
        std::vector<Section> sections;
        if (!filePath_.empty() && KwHostReadWholeFile(filePath_, bytes, kMaxSettingsFileBytes))
            Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), sections);
        sections_ = std::move(sections);
    } catch (...) {
        sections_.clear();
    }
}

bool KwSettingsStore::TryGetInteger(KwStringView section, KwStringView key, int32_t* value) const {
    for (const auto& s : sections_) {
        if (!KwEqualsNoCase(s.name, section)) continue;
        for (const auto& [name, stored] : s.values) {
            if (KwEqualsNoCase(name, key)) {
                if (value) *value = stored;
                return true;
            }
        }
    }
    return false;
}

int32_t KwSettingsStore::GetInteger(KwStringView section, KwStringView key, int32_t defaultValue) const {
    int32_t value = defaultValue;
    return TryGetInteger(section, key, &value) ? value : defaultValue;
}

bool KwSettingsStore::SetInteger(KwStringView section, KwStringView key, int32_t value) {
    if (!IsValidSectionName(section) || !IsValidKey(key)) return false;
    try {
        KwLockGuard guard(WriteLock());
        // Start from what is on disc now, so that values another store or
        // process wrote in the meantime are kept.
        Load();
        Section* target = FindSection(sections_, section);
        if (!target) {
            sections_.push_back({KwString(section), {}});
            target = &sections_.back();
        }
        bool found = false;
        for (auto& entry : target->values) {
            if (KwEqualsNoCase(entry.first, key)) {
                entry.second = value;
                found = true;
                break;
            }
        }
        if (!found) target->values.emplace_back(KwString(key), value);
        return WriteFile();
    } catch (...) {
        return false;
    }
}

bool KwSettingsStore::WriteFile() const {
    if (filePath_.empty()) return false;
    const KwString folder = KwHostFolderOf(filePath_);
    if (!folder.empty() && !KwHostCreateFolders(folder)) return false;

    const std::string text = Format(sections_);
    const std::string suffix = ".tmp" + std::to_string(KwHostUniqueNumber() % 1000000007u);
    const KwString temp = filePath_ + KwFromUtf8(suffix);
    bool written = false;
    {
        KwHostFile file;
        if (!file.Open(temp, KwHostFile::Mode::CreateTruncate)) return false;
        const int64_t size = static_cast<int64_t>(text.size());
        written = file.WriteAt(0, text.data(), size) == size && file.Sync();
    }
    if (!written || !KwHostReplaceFile(temp, filePath_)) {
        KwHostRemoveFile(temp);
        return false;
    }
    if (!folder.empty()) KwHostSyncFolder(folder);
    return true;
}
