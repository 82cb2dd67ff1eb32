#pragma once

#include <string>

namespace orbv_tool {

// "orbv: TEXT" on standard error; with --json also {"state":4,"message":"TEXT"} on standard
// output (with "file" first when the refusal concerns one of several files), so that a script
// reading only standard output sees every refusal.
void refuse(const std::string& text, bool json, const std::string* file = nullptr);

// "orbv: warning: TEXT" on standard error: an option that has no effect, or a result that is
// not what the user may expect. The exit status stays as it is.
void warn(const std::string& text);

}  // namespace orbv_tool
