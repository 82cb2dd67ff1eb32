#pragma once

#include "library.h"
#include "options.h"

namespace orbv_tool {

// Sets ORBV_LOG for this process (the default "error" only when the user set none) and the
// log level of the FFmpeg that the library runs with to match: none quiets FFmpeg, error keeps
// its errors, all leaves its default.
void apply_verbosity(Verbosity verbosity, const Library& library);

}  // namespace orbv_tool
