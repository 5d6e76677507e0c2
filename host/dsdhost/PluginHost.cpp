#include "host/dsdhost/PluginHost.h"

#include <algorithm>

#include "support/KwPlatform.h"
#include "tags/KwXMLFilename.h"

std::string ProgramFolder() { return KwToUtf8(KwGetProgramFolder()); }

PluginLibrary::PluginLibrary(const std::string& path) {
    path_ = path.empty() ? ProgramFolder() + "/dsdinput" + KwToUtf8(KwLibrarySuffix()) : path;
    module_ = KwLoadLibrary(KwFromUtf8(path_), kKwLoadAlteredSearchPath);
    if (!module_) {
        error_ = "cannot load the plug-in library " + path_;
        return;
    }
    getInputSource_ = reinterpret_cast<KwGetInputSourceFn>(KwGetProcAddress(module_, "GetInputSource"));
    getFileInfo_ = reinterpret_cast<KwGetFileInfoFn>(KwGetProcAddress(module_, "GetFileInfo"));
    if (!Loaded()) error_ = "the library " + path_ + " does not export GetInputSource and GetFileInfo";
}

PluginLibrary::~PluginLibrary() { KwFreeLibrary(module_); }

IKwAudioFileInfo* PluginLibrary::NewFileInfo(IKwHost* host) const {
    IKwAudioFileInfo* info = nullptr;
    getFileInfo_(host, &info);
    return info;
}

ToolsLibrary::ToolsLibrary() {
    const std::string path = ProgramFolder() + "/KwTools" + KwToUtf8(KwLibrarySuffix());
    module_ = KwLoadLibrary(KwFromUtf8(path), kKwLoadAlteredSearchPath);
    if (!module_) {
        error_ = "cannot load the tools library " + path;
        return;
    }
    auto get = reinterpret_cast<KwGetToolsFn>(KwGetProcAddress(module_, "GetKwToolsDLL"));
    tools_ = get ? get(kKwToolsVersion) : nullptr;
    if (!tools_) error_ = "the tools library " + path + " offers no tools interface";
}

ToolsLibrary::~ToolsLibrary() { KwFreeLibrary(module_); }

bool ToolsLibrary::RegisterMemoryCopy(const KwString& fileName) {
    using RegisterFn = bool (*)(const KwChar*);
    auto reg = reinterpret_cast<RegisterFn>(KwGetProcAddress(module_, "KwToolsRegisterMemoryCopy"));
    return reg && reg(fileName.c_str());
}

KwString HostFileName(const std::string& path, const std::string& typeFrom) {
    KwXMLFilename record(KwStringView(KwFromUtf8(path)));
    const KwString typeName = typeFrom.empty() ? KwString() : KwFromUtf8(typeFrom);
    const KwStringView name = typeFrom.empty() ? KwStringView(record.FileName()) : KwStringView(typeName);
    const size_t dot = name.find_last_of(KW_T('.'));
    const size_t slash = name.find_last_of(KW_T("/\\"));
    if (dot != KwString::npos && (slash == KwString::npos || dot > slash)) {
        KwString ext(name.substr(dot + 1));
        std::transform(ext.begin(), ext.end(), ext.begin(), KwFoldCase);
        if (!record.Items().Exists(KW_T("FileType"))) record.Items().SetString(KW_T("FileType"), ext.c_str(), false);
    }
    return record.ToText();
}
