#include "host/dsdhost/SndfileLoader.h"

#if !defined(DSD_NO_SNDFILE)
#include <mutex>

#include "support/KwPlatform.h"
#include "support/KwTypes.h"

#ifndef DSD_SNDFILE_LIBRARY
#define DSD_SNDFILE_LIBRARY "libsndfile.so.1"
#endif

namespace {

template <typename F>
bool Find(KwModuleHandle library, const char* name, F& function) {
    function = reinterpret_cast<F>(KwGetProcAddress(library, name));
    return function != nullptr;
}

}  // namespace

const SndfileApi* LoadSndfile(std::string& error) {
    static SndfileApi api;
    static std::string failure;
    static std::once_flag once;
    std::call_once(once, [] {
        // Kept loaded until the process ends: sinks may still be open at exit.
        const KwModuleHandle library = KwLoadLibrary(KwFromUtf8(DSD_SNDFILE_LIBRARY), 0);
        if (!library) {
            failure = "cannot load " DSD_SNDFILE_LIBRARY " (needed for WAV and FLAC output)";
            return;
        }
        SndfileApi found;
        if (!Find(library, "sf_open_virtual", found.open_virtual) || !Find(library, "sf_close", found.close) ||
            !Find(library, "sf_writef_double", found.writef_double) || !Find(library, "sf_command", found.command) ||
            !Find(library, "sf_format_check", found.format_check) || !Find(library, "sf_strerror", found.strerror)) {
            failure = DSD_SNDFILE_LIBRARY " lacks a function dsdhost needs";
            return;
        }
        api = found;
    });
    if (!api.open_virtual) {
        error = failure;
        return nullptr;
    }
    return &api;
}
#endif
