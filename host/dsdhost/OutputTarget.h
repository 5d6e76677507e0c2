// Where `dsdhost decode` writes. An output that names the input (also through
// a symlink, a hard link or another spelling) is refused before anything is
// opened. A regular output file is written under a temporary name in the
// same folder and renamed over the output only when the decode succeeded, so
// a failed or interrupted decode never leaves a half-written file in its
// place, and an existing file stays as it was.
#pragma once

#include <sys/types.h>

#include <string>

class OutputTarget {
public:
    OutputTarget() = default;
    ~OutputTarget();  // removes the temporary file unless committed
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;

    // Checks `out` against the input file (device and inode; on Windows, whose
    // files have no inode, the two paths) and chooses the path to write.
    // Empty on success, else why not.
    std::string Prepare(const std::string& out, const std::string& inputPath, dev_t inputDevice, ino_t inputInode);
    // The path the output sink writes ("-" for standard output).
    const std::string& WritePath() const { return writePath_; }
    // Puts the written file in place. Empty on success, else why not.
    std::string Commit();

private:
    std::string target_;     // the file that receives the result
    std::string writePath_;
    bool temporary_ = false;
    mode_t mode_ = 0;        // permissions the result gets
};
