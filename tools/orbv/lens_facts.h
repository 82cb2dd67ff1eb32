#pragma once

#include <string>

#include "library.h"

namespace orbv_tool {

// What the library's analysis tells of one input, asked before an export.
struct LensFacts {
    bool analysed = false;  // false when the analysis failed: the export reports why
    double duration = 0.0;  // seconds
    long long frames = 0;
    bool still = false;    // a JPEG picture
    std::string datetime;  // the camera's date text, empty when the file carries none
};

// Analyses `path` without a thumbnail, quietly: its documents go nowhere else.
LensFacts lens_facts(const Library& library, const std::string& path);

}  // namespace orbv_tool
