// libsndfile, loaded when WAV or FLAC output first needs it. Linking it would
// load it and its codec libraries at every start of dsdhost, which costs the
// other commands (raw and DSDIFF output, info, settings) a millisecond or two.
#pragma once

#if !defined(DSD_NO_SNDFILE)
#include <sndfile.h>

#include <string>

// The library's functions that dsdhost calls.
struct SndfileApi {
    decltype(&sf_open_virtual) open_virtual = nullptr;
    decltype(&sf_close) close = nullptr;
    decltype(&sf_writef_double) writef_double = nullptr;
    decltype(&sf_command) command = nullptr;
    decltype(&sf_format_check) format_check = nullptr;
    decltype(&sf_strerror) strerror = nullptr;
};

// The loaded library (once per process), or null with `error` saying why.
const SndfileApi* LoadSndfile(std::string& error);
#endif
