#pragma once

#include <string>

#include "library.h"

namespace orbv_tool {

// The --version text: this tool's version, the loaded liborbv's (from its file name, which
// carries the full version) and file, and the versions of the FFmpeg and OpenCV it runs with.
std::string version_text(const Library* library, const std::string& load_error);

}  // namespace orbv_tool
