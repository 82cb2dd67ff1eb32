#pragma once

#include <string>

#include "orbv.h"

namespace orbv_tool {

// The four exported functions, looked up in liborbv.so at run time as the viewer does.
struct Library {
    decltype(&ORBV_analyze_image) analyze_image = nullptr;
    decltype(&ORBV_export) export_panorama = nullptr;
    decltype(&ORBV_get_audio) get_audio = nullptr;
    decltype(&ORBV_freesize) freesize = nullptr;
    std::string file;        // the library's file with every symbolic link resolved
    void* handle = nullptr;  // also finds the FFmpeg and OpenCV functions liborbv runs with

    // A function of liborbv or of a library it loaded; null when there is none of that name.
    template <class Fn>
    Fn find(const char* name) const;
};

// Loads the library named by ORBV_LIBRARY, else liborbv by its soname from ../<libdir> or
// ../lib beside the tool, else from the system's library path.
// False with a reason in *error when it or one of its functions is missing.
bool load_library(Library* library, std::string* error);

void* find_symbol(void* handle, const char* name);

template <class Fn>
Fn Library::find(const char* name) const {
    return reinterpret_cast<Fn>(find_symbol(handle, name));
}

}  // namespace orbv_tool
