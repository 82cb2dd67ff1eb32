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
};

// Loads the library named by ORBV_LIBRARY, else liborbv by its soname from ../<libdir> or
// ../lib beside the tool, else from the system's library path.
// False with a reason in *error when it or one of its functions is missing.
bool load_library(Library* library, std::string* error);

}  // namespace orbv_tool
