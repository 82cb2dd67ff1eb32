#pragma once

#include <string>

#include "lens_facts.h"
#include "options.h"

namespace orbv_tool {

// Warns on standard error of what the export would otherwise pass over in silence: a --band
// file that is no picture (the panorama then has no band), and lenses whose exported spans
// differ (the panorama ends with the shorter one).
void warn_about_export(const ExportArgs& args, const LensFacts& lens1, const LensFacts& lens2);

// "LENS: the window starts at S s, after the input's end at D s" for the first lens whose
// window starts past its end; empty when none does or the durations are unknown.
std::string window_past_end(const ExportArgs& args, const LensFacts& lens1, const LensFacts& lens2);

}  // namespace orbv_tool
