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
};

class TagCommands {
public:
    explicit TagCommands(TagRequest request) : request_(std::move(request)) {}

    // Runs the request; the exit status (non-zero with the reason on stderr on failure).
    int Run(const PluginLibrary& plugin, IKwHost* host);

private:
    int List(IKwAudioFileInfo* info);
    int Edit(IKwAudioFileInfo* info, const std::string& path);
    int Json(const PluginLibrary& plugin, IKwHost* host, IKwAudioFileInfo* info, const std::string& path);

    TagRequest request_;
};
