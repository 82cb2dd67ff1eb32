#pragma once

#include <cstdint>
#include <string>

#include "failure_text.h"

namespace orbv_tool {

// How the library's callback reports. The callback carries no user pointer, so the reporter
// is global.
struct ReportOptions {
    bool json = false;             // each callback as one JSON line on standard output
    bool progress = true;          // the progress line on standard error
    const char* command = "orbv";  // names the job in the failure line
    const char* unit = "frames";   // what the job's progress counts
    CommandFiles files;            // named in the failure line
};
void set_report_options(const ReportOptions& options);
// Names a trim window past its input's end, for a failure line of the export.
void note_window(const std::string& note);

// The ProgressCallback handed to the library. Without json: a job's start and progress as
// the progress line; a failed or cancelled job as one line on standard error (also with json,
// whose failure line carries it as "message").
void report_callback(int32_t state, const char* document);

// The last final state (2, 3 or 4) received, -1 when none came.
int32_t final_state();
// Whether the last failure refused what the options asked (an output name, a panorama size):
// a usage error.
bool refused_options();

}  // namespace orbv_tool
