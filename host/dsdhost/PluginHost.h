// The command-line host's view of the plug-in and the host libraries: it
// loads the plug-in library by path, resolves its two exports and supplies
// the host object, exactly as a media player would.
#pragma once

#include <string>

#include "plugin/kwapi/IKwAudioFileInfo.h"
#include "plugin/kwapi/IKwAudioInput.h"
#include "plugin/kwapi/IKwHost.h"
#include "plugin/kwapi/IKwTools.h"
#include "support/KwTypes.h"

class PluginLibrary {
public:
    // Loads the plug-in; `path` empty means the one beside this program.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool Loaded() const { return getInputSource_ && getFileInfo_; }
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    IKwAudioInput* NewInputSource(IKwHost* host) const { return getInputSource_(host); }
    IKwAudioFileInfo* NewFileInfo(IKwHost* host) const;

private:
    std::string path_;
    std::string error_;
    KwModuleHandle module_ = nullptr;
    KwGetInputSourceFn getInputSource_ = nullptr;
    KwGetFileInfoFn getFileInfo_ = nullptr;
};

// The host's tools library (settings store, in-memory copies), loaded from
// the program folder.
class ToolsLibrary {
public:
    ToolsLibrary();
    ~ToolsLibrary();
    ToolsLibrary(const ToolsLibrary&) = delete;
    ToolsLibrary& operator=(const ToolsLibrary&) = delete;

    IKwTools* Tools() const { return tools_; }
    const std::string& Error() const { return error_; }
    // Registers an in-memory copy of a file that the plug-in may then play from memory.
    bool RegisterMemoryCopy(const KwString& fileName);

private:
    KwModuleHandle module_ = nullptr;
    IKwTools* tools_ = nullptr;
    std::string error_;
};

// The folder this program runs from (its libraries stand beside it).
std::string ProgramFolder();
// The XMLFN text the host hands to the plug-in for a path typed by the user:
// the path (a ";N" suffix selects a disc-image track) with the item "FileType"
// taken from the extension (of `typeFrom` when given).
KwString HostFileName(const std::string& path, const std::string& typeFrom = {});
