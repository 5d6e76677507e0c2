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

// What one line of the file is.
enum class LineKind { Blank, Header, Value, Bad };
struct LineInfo {
    LineKind kind = LineKind::Blank;
    bool header = false;  // a Bad line that starts like a section header
    KwString name;        // section or key
    int32_t value = 0;
    std::string why;      // for Bad lines
};

LineInfo Classify(std::string_view raw) {
    LineInfo info;
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') return info;
    info.kind = LineKind::Bad;
    if (line.find('\0') != std::string_view::npos) {
        info.why = "it holds a zero byte";
        return info;
    }
    if (line.front() == '[') {
        info.header = true;
        info.name = line.back() == ']' ? KwFromUtf8(Trim(line.substr(1, line.size() - 2))) : KwString();
        if (KwSettingsStore::IsValidSectionName(info.name))
            info.kind = LineKind::Header;
        else
            info.why = "it is not a valid section header";
        return info;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        info.why = "it is not a key=value line";
        return info;
    }
    info.name = KwFromUtf8(Trim(line.substr(0, equals)));
    if (!KwSettingsStore::IsValidKey(info.name)) {
        info.why = "the key is not valid";
    } else if (!ParseInt32(Trim(line.substr(equals + 1)), &info.value)) {
        info.why = "the value is not a 32-bit decimal integer";
    } else {
        info.kind = LineKind::Value;
    }
    return info;
}

// The lines of the file without their line feeds (a carriage return stays
// with its line), after a byte-order mark at the start.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") start = 3;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return lines;
}

// A line as it appears in a message: at most 40 bytes, control bytes as "?".
std::string Shown(std::string_view line) {
    line = Trim(line);
    std::string shown(line.substr(0, 40));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return line.size() > 40 ? shown + "..." : shown;
}

constexpr size_t kMaxProblems = 20;

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

void KwSettingsStore::Parse(std::string_view text, std::vector<Section>& sections,
                            std::vector<std::string>* problems) {
    sections.clear();
    if (problems) problems->clear();
    try {
        Section* current = nullptr;
        bool inSection = false;  // after a readable header
        int number = 0;
        for (std::string_view raw : SplitLines(text)) {
            ++number;
            const LineInfo line = Classify(raw);
            std::string why = line.why;
            if (line.kind == LineKind::Header) {
                current = FindSection(sections, line.name);
                if (!current) {
                    sections.push_back({line.name, {}});
                    current = &sections.back();
                }
                inSection = true;
            } else if (line.kind == LineKind::Value && !inSection) {
                why = "it stands outside any section";
            } else if (line.kind == LineKind::Value) {
                bool found = false;
                for (auto& entry : current->values) {
                    if (KwEqualsNoCase(entry.first, line.name)) {
                        entry.second = line.value;  // a repeated key: the last one counts
                        found = true;
                    }
                }
                if (!found) current->values.emplace_back(line.name, line.value);
            } else if (line.kind == LineKind::Bad && line.header) {
                // The values below a damaged header belong to no known section.
                inSection = false;
            }
            if (problems && !why.empty() && problems->size() < kMaxProblems)
                problems->push_back("line " + std::to_string(number) + " (\"" + Shown(raw) + "\"): " + why);
        }
    } catch (const std::bad_alloc&) {
        sections.clear();
    }
}

std::string KwSettingsStore::WithValue(std::string_view text, KwStringView section, KwStringView key,
                                       int32_t value) {
    std::vector<std::string> lines;
    for (std::string_view raw : SplitLines(text)) lines.emplace_back(raw);
    // The line that holds the value now, and the last line of the section
    // (where a new value goes).
    size_t holder = std::string::npos, sectionEnd = std::string::npos;
    bool inTarget = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const LineInfo line = Classify(lines[i]);
        if (line.kind == LineKind::Header || (line.kind == LineKind::Bad && line.header)) {
            inTarget = line.kind == LineKind::Header && KwEqualsNoCase(line.name, section);
            if (inTarget) sectionEnd = i;
            continue;
        }
        if (!inTarget) continue;
        if (line.kind != LineKind::Blank) sectionEnd = i;
        if (line.kind == LineKind::Value && KwEqualsNoCase(line.name, key)) holder = i;
    }
    const std::string number = std::to_string(value);
    if (holder != std::string::npos) {
        // Keep the key as it is spelt in the file, and the line ending.
        std::string& line = lines[holder];
        const bool cr = !line.empty() && line.back() == '\r';
        line = std::string(Trim(std::string_view(line).substr(0, line.find('=')))) + '=' + number + (cr ? "\r" : "");
    } else if (sectionEnd != std::string::npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd) + 1, KwToUtf8(key) + '=' + number);
    } else {
        while (!lines.empty() && Trim(lines.back()).empty()) lines.pop_back();
        if (!lines.empty()) lines.emplace_back();
        lines.push_back('[' + KwToUtf8(section) + ']');
        lines.push_back(KwToUtf8(key) + '=' + number);
    }
    std::string result = text.substr(0, 3) == "\xEF\xBB\xBF" ? "\xEF\xBB\xBF" : "";
    for (const auto& line : lines) result += line + '\n';
    return result;
}

void KwSettingsStore::Load() {
    try {
        text_.clear();
        readable_ = true;
        std::vector<uint8_t> bytes;
        if (!filePath_.empty() && !KwHostReadWholeFile(filePath_, bytes, kMaxSettingsFileBytes)) {
            bytes.clear();
            readable_ = !KwHostFileExists(filePath_);
        }
        text_.assign(bytes.begin(), bytes.end());
        Parse(text_, sections_, &problems_);
        if (!readable_)
            problems_.push_back("the file cannot be read whole (larger than 1 MiB, or unreadable): its values are "
                                "not used and it is not rewritten");
    } catch (...) {
        sections_.clear();
        text_.clear();
        readable_ = false;
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
    if (!IsValidSectionName(section) || !IsValidKey(key) || filePath_.empty()) return false;
    try {
        KwLockGuard guard(WriteLock());
        const KwString folder = KwHostFolderOf(filePath_);
        if (!folder.empty() && !KwHostCreateFolders(folder)) return false;
        // Other processes' writers wait here, so that each one starts from
        // what the previous one wrote.
        KwHostFileLock lock;
        if (!lock.Acquire(filePath_ + KW_T(".lock"))) return false;
        RemoveStaleTemporaries();
        Load();
        if (!readable_) return false;
        const std::string text = WithValue(text_, section, key, value);
        if (!WriteFile(text)) return false;
        text_ = text;
        Parse(text_, sections_, &problems_);
        return true;
    } catch (...) {
        return false;
    }
}

bool KwSettingsStore::WriteFile(const std::string& text) const {
    const KwString folder = KwHostFolderOf(filePath_);
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

void KwSettingsStore::RemoveStaleTemporaries() const {
    // Called under the cross-process lock: no writer is between creating and
    // renaming its temporary file, so every one found belongs to a writer
    // that died.
    const KwString folder = KwHostFolderOf(filePath_);
    const KwString prefix = filePath_.substr(folder.empty() ? 0 : folder.size() + 1) + KW_T(".tmp");
    for (const KwString& name : KwHostListFolder(folder.empty() ? KwString(KW_T(".")) : folder)) {
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            KwHostRemoveFile(folder.empty() ? name : folder + kKwPathSeparator + name);
    }
}
