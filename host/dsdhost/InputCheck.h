// The checks dsdhost makes on an input path before and after the plug-in
// opens it, so that every refusal says why: no such file, permission denied,
// a folder, a FIFO or device (never opened in a way that blocks), an empty
// file, not a DSD file, or a DSD file with a damaged header (which field).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "host/dsdhost/HeaderCheck.h"

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens `typed` (a path, optionally with a ";N" track suffix) for
    // reading. Empty on success, else why it cannot be read.
    std::string Open(const std::string& typed);

    // The name handed to the plug-in. A file name that is not valid UTF-8
    // cannot travel as text, so the plug-in then gets this process's handle
    // of the open file (/proc/self/fd/N) with the file type of the real name.
    std::string PluginName() const;
    // Why the plug-in refused the file, in words.
    std::string ExplainRefusal() const;
    // What the header says about the sound data.
    HeaderFacts Facts() const;

    const std::string& FileName() const { return fileName_; }
    dev_t Device() const { return device_; }
    ino_t Inode() const { return inode_; }

private:
    std::string typed_;
    std::string fileName_;     // without the track suffix
    std::string trackSuffix_;  // ";N" or empty
    int fd_ = -1;
    uint64_t size_ = 0;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// True when `text` is valid UTF-8.
bool IsUtf8(const std::string& text);
