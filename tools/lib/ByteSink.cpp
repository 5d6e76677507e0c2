#include "tools/lib/ByteSink.h"

#include <filesystem>
#include <fstream>

namespace dsdtools {

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    return !out.fail();
}

}  // namespace dsdtools
