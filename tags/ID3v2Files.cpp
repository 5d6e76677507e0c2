#include "tags/ID3v2Files.h"

#include <filesystem>
#include <fstream>

#include "support/KwPlatform.h"

namespace {

std::filesystem::path PathOf(const KwString& path) {
#if defined(_WIN32)
    return std::filesystem::path(std::wstring(path));
#else
    return std::filesystem::path(KwToUtf8(path));
#endif
}

}  // namespace

KwString ID3v2TempFolder() {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) return {};
#if defined(_WIN32)
    KwString text = folder.wstring();
#else
    KwString text = KwFromUtf8(folder.string());
#endif
    if (!text.empty() && text.back() != kKwPathSeparator) text.push_back(kKwPathSeparator);
    return text;
}

bool ID3v2WriteFile(const KwString& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    const bool ok = static_cast<bool>(out);
    out.close();
    return ok && !out.fail();
}

bool ID3v2ReadFile(const KwString& path, std::vector<uint8_t>& bytes, size_t limit) {
    std::error_code ec;
    const std::filesystem::path p = PathOf(path);
    if (!std::filesystem::is_regular_file(p, ec)) return false;
    const auto size = std::filesystem::file_size(p, ec);
    if (ec || size > limit) return false;
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    bytes.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return static_cast<size_t>(in.gcount()) == bytes.size();
}
