#include <new>

#include "host/common/KwHostFile.h"
#include "host/tools/KwToolsImpl.h"

namespace {

constexpr uint64_t kMaxCatalogBytes = 16u << 20;

// Resolves the catalog's backslash escapes; an unknown escape keeps its character.
std::string Unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    return out;
}

// Position of the first "=" that is not escaped, or npos.
size_t FindSeparator(std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\') {
            ++i;
        } else if (line[i] == '=') {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::map<KwString, KwString> KwTranslator::ParseCatalog(std::string_view text) {
    std::map<KwString, KwString> catalog;
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const size_t equals = FindSeparator(line);
        if (equals == std::string_view::npos || equals == 0) continue;
        catalog[KwFromUtf8(Unescape(line.substr(0, equals)))] = KwFromUtf8(Unescape(line.substr(equals + 1)));
    }
    return catalog;
}

void KwTranslator::Refresh() {
    try {
        const KwString path = KwHostGetEnvironment("KW_TRANSLATION_CATALOG");
        KwLockGuard guard(lock_);
        if (loaded_ && path == catalogPath_) return;
        catalog_.clear();
        catalogPath_ = path;
        loaded_ = true;
        std::vector<uint8_t> bytes;
        if (!path.empty() && KwHostReadWholeFile(path, bytes, kMaxCatalogBytes))
            catalog_ = ParseCatalog(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } catch (const std::bad_alloc&) {
        KwLockGuard guard(lock_);
        catalog_.clear();
    }
}

bool KwTranslator::Translate(IKwDllString* text) {
    if (!text) return false;
    try {
        const KwChar* source = text->GetText();
        if (!source) return false;
        KwString translation;
        {
            KwLockGuard guard(lock_);
            const auto it = catalog_.find(KwString(source));
            if (it == catalog_.end()) return false;
            translation = it->second;
        }
        text->SetText(translation.c_str(), static_cast<int32_t>(translation.size()));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
