// dsdhost config: opens the plug-in's configuration window through command 1
// of an input source, as a player's "configure" button would.
#pragma once

#include "host/dsdhost/PluginHost.h"

// The exit status; without a window system it fails with the reason on stderr.
int RunConfigCommand(const PluginLibrary& plugin, IKwHost* host);
