// The few file operations of the tag code: the temporary folder, and whole
// files read and written by a host file name.
#pragma once

#include <cstdint>
#include <vector>

#include "support/KwTypes.h"

// The temporary folder, ending in a path separator.
KwString ID3v2TempFolder();
// Writes all bytes, flushes and closes; false on any failure.
bool ID3v2WriteFile(const KwString& path, const std::vector<uint8_t>& bytes);
// Reads the whole file (at most `limit` bytes); false when it cannot be read.
bool ID3v2ReadFile(const KwString& path, std::vector<uint8_t>& bytes, size_t limit);
