#pragma once

#include <cstdint>

namespace orbv_tool {

// Prints what the library's callback receives: a readable summary, or with json each
// document as one line. The callback carries no user pointer, so the reporter is global.
void set_json_output(bool json);

// The ProgressCallback handed to the library.
void report_callback(int32_t state, const char* document);

// The last final state (2, 3 or 4) received, -1 when none came.
int32_t final_state();

}  // namespace orbv_tool
