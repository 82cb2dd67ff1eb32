#pragma once

#include "lens_facts.h"
#include "options.h"

namespace orbv_tool {

// Warns on standard error of what the export would otherwise pass over in silence: a --band
// file that is no picture (the panorama then has no band), and lenses whose exported spans
// differ (the panorama ends with the shorter one).
void warn_about_export(const ExportArgs& args, const LensFacts& lens1, const LensFacts& lens2);

}  // namespace orbv_tool
