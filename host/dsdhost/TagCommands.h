// dsdhost's tag commands: "tags FILE" lists the tag through the plug-in's
// file-information object, "tags FILE --set/--image/--remove" edits it, and
// "info FILE --json" prints properties, tag fields and input facts as JSON.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "host/dsdhost/PluginHost.h"

class TagCommands {
public:
    // Adds the "tags" subcommand to `app` and the "--json" flag to `info`,
    // whose file argument is `infoFile`.
    TagCommands(CLI::App& app, CLI::App* info, const std::string* infoFile);

    // True when a command handled here was given on the command line.
    bool Parsed() const;
    // Runs it; the exit status (non-zero with the reason on stderr on failure).
    int Run(const PluginLibrary& plugin, IKwHost* host);

private:
    int List(IKwAudioFileInfo* info);
    int Edit(IKwAudioFileInfo* info, const std::string& path);
    int Json(const PluginLibrary& plugin, IKwHost* host, IKwAudioFileInfo* info);

    CLI::App* tags_ = nullptr;
    CLI::App* info_ = nullptr;
    const std::string* infoFile_ = nullptr;
    bool json_ = false;
    std::vector<std::string> files_;
    std::vector<std::string> sets_;
    std::vector<std::string> images_;
    bool remove_ = false;
};
