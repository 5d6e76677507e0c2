// dsdhost config: opens the plug-in's configuration window through command 1
// of an input source, as a player's "configure" button would, and then prints
// the stored settings.
#pragma once

#include <CLI/CLI.hpp>

#include "host/dsdhost/PluginHost.h"

class ConfigCommand {
public:
    explicit ConfigCommand(CLI::App& app);
    bool Parsed() const { return config_->parsed(); }
    // The exit status; without a window system it fails with the reason on stderr.
    int Run(const PluginLibrary& plugin, IKwHost* host);

private:
    CLI::App* config_ = nullptr;
};
