#pragma once

#include <set>
#include <string>

#include "options.h"

namespace orbv_tool {

// One warning for each option given where it has no effect, so that none is passed over in
// silence; the job itself goes on as without it.
void warn_ignored_options(const AnalyzeArgs& args, const std::set<std::string>& given);
void warn_ignored_options(const AudioArgs& args, const std::set<std::string>& given);
void warn_ignored_options(const FreesizeArgs& args, const std::set<std::string>& given);
// For an export whose lenses are both stills: trim times, the sound input, the cancel file.
void warn_ignored_for_stills(const std::set<std::string>& given);

}  // namespace orbv_tool
