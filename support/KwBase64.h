// Base64 with the standard alphabet; a line feed before every group that
// would start a line already holding 64 characters; no line feed at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "KwTypes.h"

KwString KwBase64Encode(const void* data, size_t size);
// The length in characters of the text KwBase64Encode makes of `size` bytes.
size_t KwBase64EncodedLength(size_t size);
// Decodes, skipping line feeds and carriage returns; false on any other
// character outside the alphabet or on bad padding.
bool KwBase64Decode(KwStringView text, std::vector<uint8_t>& out);
