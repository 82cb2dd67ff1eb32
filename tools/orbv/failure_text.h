#pragma once

#include <cstdint>
#include <string>

#include "flat_json.h"

namespace orbv_tool {

// The files a command names, for failure lines that say which one failed.
struct CommandFiles {
    std::string input1, input2;                         // input2 only for an export
    std::string output;                                 // empty when the command writes nothing
    int64_t (*free_bytes)(const char* path) = nullptr;  // the library's own measure
    std::string window_note;   // "FILE: ..." when a trim window starts past its input's end
    std::string size_options;  // the size options as given ("--width 20000"), else empty
};

// "FILE: WHAT HAPPENED (ERRNUM ERRSTR[: API_ERRSTR])" for a failure document; the library's
// texts close the line verbatim, so that scripts can still match on them.
std::string failure_text(const Fields& document, const CommandFiles& files);

// Whether the library refused what the options asked before any work: an output name that
// does not fit the job, or a panorama size. Such a refusal is a usage error.
bool refuses_options(const Fields& document);

}  // namespace orbv_tool
