#include "tools/lib/DsdiffDstFrames.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace dsdtools {
namespace {

uint64_t BE(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// Calls `chunk(id, body, size)` for each chunk in [at, end); false when a
// chunk runs past the end.
template <class F>
bool Chunks(const std::vector<uint8_t>& f, size_t at, size_t end, F chunk) {
    while (at + 12 <= end) {
        const uint64_t size = BE(&f[at + 4], 8);
        if (size > end - at - 12) return false;
        chunk(&f[at], at + 12, static_cast<size_t>(size));
        at += 12 + static_cast<size_t>(size) + (size & 1);
    }
    return true;
}

}  // namespace

bool ParseDsdiffDstFrames(const std::vector<uint8_t>& f, DstFrameFile& out) {
    out = DstFrameFile();
    if (f.size() < 16 || std::memcmp(f.data(), "FRM8", 4) != 0 || std::memcmp(&f[12], "DSD ", 4) != 0) return false;
    const uint64_t formEnd = std::min<uint64_t>(f.size(), 12 + BE(&f[4], 8));
    bool dst = false, ok = true;
    ok = Chunks(f, 16, static_cast<size_t>(formEnd), [&](const uint8_t* id, size_t body, size_t size) {
        if (std::memcmp(id, "PROP", 4) == 0 && size >= 4) {
            ok = ok && Chunks(f, body + 4, body + size, [&](const uint8_t* pid, size_t pbody, size_t psize) {
                if (std::memcmp(pid, "FS  ", 4) == 0 && psize >= 4) out.rate = static_cast<uint32_t>(BE(&f[pbody], 4));
                if (std::memcmp(pid, "CHNL", 4) == 0 && psize >= 2)
                    out.channels = static_cast<uint32_t>(BE(&f[pbody], 2));
            });
        } else if (std::memcmp(id, "DST ", 4) == 0) {
            dst = true;
            ok = ok && Chunks(f, body, body + size, [&](const uint8_t* did, size_t dbody, size_t dsize) {
                if (std::memcmp(did, "DSTF", 4) == 0)
                    out.frames.emplace_back(f.begin() + static_cast<std::ptrdiff_t>(dbody),
                                            f.begin() + static_cast<std::ptrdiff_t>(dbody + dsize));
            });
        }
    });
    return ok && dst && out.channels > 0 && out.rate > 0 && !out.frames.empty();
}

bool ReadDsdiffDstFrames(const std::string& path, DstFrameFile& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseDsdiffDstFrames(bytes, out);
}

}  // namespace dsdtools
