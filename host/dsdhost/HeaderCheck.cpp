#include "host/dsdhost/HeaderCheck.h"

#include <algorithm>
#include <cstring>

namespace {

uint64_t LE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

uint64_t BE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}

// A chunk ID as it appears in a message: printable bytes as they are, others as "?".
std::string Id(const uint8_t* p) {
    std::string id = "\"";
    for (int i = 0; i < 4; ++i) id += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '?';
    return id + "\"";
}

bool Is(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

void CheckDsf(const HeaderReadFn& read, uint64_t fileSize, HeaderFacts& facts) {
    facts.kind = "DSF";
    uint8_t dsd[28], fmt[52], data[12];
    if (fileSize < 28 || read(0, dsd, 28) < 28) {
        facts.fault = "the file ends inside the 28-byte DSD chunk";
        return;
    }
    if (fileSize < 28 + 52 || read(28, fmt, 52) < 52) {
        facts.fault = "the file ends inside the fmt chunk (at offset 28)";
        return;
    }
    if (!Is(fmt, "fmt ")) {
        facts.fault = "the chunk at offset 28 is " + Id(fmt) + ", not the fmt chunk";
        return;
    }
    const uint64_t fmtSize = LE(fmt + 4, 8);
    facts.channels = static_cast<uint32_t>(LE(fmt + 24, 4));
    facts.sampleRate = static_cast<uint32_t>(LE(fmt + 28, 4));
    const uint64_t bits = LE(fmt + 32, 4);
    facts.dsfSampleCount = LE(fmt + 36, 8);
    if (fmtSize < 52 || fmtSize > fileSize) {
        facts.fault = "the fmt chunk size is " + std::to_string(fmtSize) + " (52 or more, within the file)";
    } else if (facts.channels == 0 || facts.channels > 64) {
        facts.fault = "the fmt chunk's channel count is " + std::to_string(facts.channels) + " (1 to 64)";
    } else if (!IsDsdRate(facts.sampleRate)) {
        facts.fault = "the fmt chunk's sampling frequency is " + std::to_string(facts.sampleRate) +
                      " Hz (not a DSD rate)";
    } else if (bits != 1 && bits != 8) {
        facts.fault = "the fmt chunk's bits per sample is " + std::to_string(bits) + " (1 or 8)";
    }
    if (!facts.fault.empty()) return;
    const uint64_t dataAt = 28 + fmtSize;
    if (dataAt + 12 > fileSize || read(dataAt, data, 12) < 12) {
        facts.fault = "the file ends before the data chunk (at offset " + std::to_string(dataAt) + ")";
    } else if (!Is(data, "data")) {
        facts.fault = "the chunk at offset " + std::to_string(dataAt) + " is " + Id(data) + ", not the data chunk";
    } else {
        const uint64_t size = LE(data + 4, 8);
        facts.dataBytes = size < 12 ? 0 : std::min(size - 12, fileSize - dataAt - 12);
        if (facts.dataBytes == 0) facts.fault = "the data chunk holds no audio (size " + std::to_string(size) + ")";
    }
}

void CheckDsdiff(const HeaderReadFn& read, uint64_t fileSize, HeaderFacts& facts) {
    facts.kind = "DSDIFF";
    uint8_t head[16];
    if (fileSize < 16 || read(0, head, 16) < 16) {
        facts.fault = "the file ends inside the FRM8 header";
        return;
    }
    if (!Is(head + 12, "DSD ")) {
        facts.fault = "the FRM8 form type is " + Id(head + 12) + ", not \"DSD \"";
        return;
    }
    facts.channels = 2;
    facts.sampleRate = 2822400;
    std::string compression;
    bool sawProp = false;
    uint64_t at = 16;
    for (int chunks = 0; chunks < 10000; ++chunks) {
        uint8_t chunk[12];
        if (at + 12 > fileSize || read(at, chunk, 12) < 12) break;
        const uint64_t size = BE(chunk + 4, 8);
        const uint64_t body = at + 12;
        const std::string where = Id(chunk) + " chunk at offset " + std::to_string(at);
        if (Is(chunk, "PROP")) {
            sawProp = true;
            if (size > fileSize - body) {
                facts.fault = "the " + where + " claims " + std::to_string(size) + " bytes, beyond the file's end";
                return;
            }
            uint8_t sub[16];
            if (size < 4 || read(body, sub, 4) < 4 || !Is(sub, "SND ")) {
                facts.fault = "the " + where + " is not a sound property chunk (no \"SND \")";
                return;
            }
            for (uint64_t p = 4; p + 12 <= size;) {
                if (read(body + p, sub, 16) < 12) break;
                const uint64_t subSize = BE(sub + 4, 8);
                const bool fits = subSize <= size - p - 12;
                if (Is(sub, "FS  ") && fits && subSize >= 4) facts.sampleRate = static_cast<uint32_t>(BE(sub + 12, 4));
                if (Is(sub, "CHNL") && fits) facts.channels = subSize >= 2 ? static_cast<uint32_t>(BE(sub + 12, 2)) : 0;
                if (Is(sub, "CMPR") && fits && subSize >= 4) compression = Id(sub + 12);
                if (!fits) {
                    facts.fault = "the property " + Id(sub) + " in the " + where + " claims " +
                                  std::to_string(subSize) + " bytes, beyond its chunk";
                    return;
                }
                p += 12 + subSize;
            }
            if (compression.empty()) {
                facts.fault = "the " + where + " has no compression type (CMPR)";
            } else if (compression != "\"DSD \"" && compression != "\"DST \"") {
                facts.fault = "the compression type is " + compression + " (\"DSD \" or \"DST \")";
            } else if (facts.channels == 0 || facts.channels > 64) {
                facts.fault = "the channel count (CHNL) is " + std::to_string(facts.channels) + " (1 to 64)";
            } else if (!IsDsdRate(facts.sampleRate)) {
                facts.fault = "the sample rate (FS) is " + std::to_string(facts.sampleRate) + " Hz (not a DSD rate)";
            }
            if (!facts.fault.empty()) return;
        } else if ((Is(chunk, "DSD ") && compression == "\"DSD \"") || (Is(chunk, "DST ") && compression == "\"DST \"")) {
            uint64_t data = std::min(size, fileSize - body);
            if (Is(chunk, "DST ")) {
                uint8_t frte[18];
                if (read(body, frte, 18) < 18 || !Is(frte, "FRTE") || BE(frte + 4, 8) != 6) {
                    facts.fault = "the " + where + " does not begin with a 6-byte frame count chunk (FRTE)";
                    return;
                }
                data = data < 18 ? 0 : data - 18;
            }
            facts.dataBytes = data;
            if (data == 0) facts.fault = "the sound data (" + where + ") is empty";
            return;
        }
        at = body + size;
        if (at < body) break;  // a size that wraps around
    }
    if (!sawProp)
        facts.fault = "there is no property chunk (PROP)";
    else
        facts.fault = "there is no " + (compression.empty() ? std::string("sound data") : compression) +
                      " sound data chunk";
}

}  // namespace

bool IsDsdRate(uint64_t rate) {
    for (uint64_t base : {uint64_t{44100} * 64, uint64_t{48000} * 64})
        for (uint64_t m = 1; m <= 16; m *= 2)
            if (rate == base * m) return true;
    return false;
}

HeaderFacts CheckHeader(const HeaderReadFn& read, uint64_t fileSize) {
    HeaderFacts facts;
    uint8_t magic[4] = {};
    if (fileSize < 4 || read(0, magic, 4) < 4) return facts;
    if (Is(magic, "DSD "))
        CheckDsf(read, fileSize, facts);
    else if (Is(magic, "FRM8"))
        CheckDsdiff(read, fileSize, facts);
    return facts;
}
