// Text encodings of ID3v2 frames: reading the four encodings and writing the
// two that the writer uses (ISO-8859-1 and UTF-16 with a byte-order mark).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/KwTypes.h"

constexpr uint8_t kID3Latin1 = 0;
constexpr uint8_t kID3Utf16Bom = 1;
constexpr uint8_t kID3Utf16BE = 2;
constexpr uint8_t kID3Utf8 = 3;

// One text from `pos`, up to its terminator (consumed) or the end of the data.
// Encodings other than 0 to 3 read as empty and consume everything.
KwString ID3v2ReadText(const uint8_t* p, size_t& pos, size_t end, uint8_t encoding);
// Every text from `pos` to `end`, the non-empty ones joined with ";".
KwString ID3v2ReadTexts(const uint8_t* p, size_t& pos, size_t end, uint8_t encoding);
// Bytes up to the first zero byte (consumed) as ISO-8859-1.
KwString ID3v2ReadLatin1(const uint8_t* p, size_t& pos, size_t end);

// Encoding 0 when every character is below 128, else 1.
uint8_t ID3v2ChooseEncoding(KwStringView text);
// Appends `text` in `encoding` (0 or 1) with its terminator.
void ID3v2AppendText(std::vector<uint8_t>& out, KwStringView text, uint8_t encoding);
