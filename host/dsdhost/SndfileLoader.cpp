#include "host/dsdhost/SndfileLoader.h"

#if !defined(DSD_NO_SNDFILE)
#include <dlfcn.h>

#include <mutex>

#ifndef DSD_SNDFILE_LIBRARY
#define DSD_SNDFILE_LIBRARY "libsndfile.so.1"
#endif

namespace {

template <typename F>
bool Find(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

}  // namespace

const SndfileApi* LoadSndfile(std::string& error) {
    static SndfileApi api;
    static std::string failure;
    static std::once_flag once;
    std::call_once(once, [] {
        // Kept loaded until the process ends: sinks may still be open at exit.
        void* library = dlopen(DSD_SNDFILE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char* why = dlerror();
            failure = std::string("cannot load " DSD_SNDFILE_LIBRARY ": ") + (why ? why : "unknown error");
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
