// dsdhost's tag commands: "tags FILE" lists the tag through the plug-in's
// file-information object, "tags FILE --set/--image/--remove" edits it, and
// "info FILE --json" prints properties, tag fields and input facts as JSON.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/dsdhost/PluginHost.h"

// What the command line asks of them (main fills it in).
struct TagRequest {
    bool json = false;                // "info FILE --json" (else "tags FILE...")
    std::vector<std::string> files;   // the files named
    std::vector<std::string> sets;    // --set FIELD=VALUE
    std::vector<std::string> images;  // --image FIELD=PATH
    bool remove = false;              // --remove
    unsigned jobs = 1;                // files listed at once (--jobs)
};

class TagCommands {
public:
    explicit TagCommands(TagRequest request) : request_(std::move(request)) {}

    // Runs the request; the exit status (non-zero with the reason on stderr on failure).
    int Run(const PluginLibrary& plugin, IKwHost* host);

private:
    // Opens `path` in a new file-information object; false with the reason
    // (a whole line) in `error`.
    static bool OpenFile(const PluginLibrary& plugin, IKwHost* host, const std::string& path,
                         KwPtr<IKwAudioFileInfo>& info, std::string& error);
    // Lists every file named, in order; 1 when one of them could not be read.
    int ListAll(const PluginLibrary& plugin, IKwHost* host);
    // Appends the summary and every field the file holds.
    static void ListText(IKwAudioFileInfo* info, std::string& out);
    int Edit(IKwAudioFileInfo* info, const std::string& path);
    int Json(const PluginLibrary& plugin, IKwHost* host, IKwAudioFileInfo* info, const std::string& path);

    TagRequest request_;
};
