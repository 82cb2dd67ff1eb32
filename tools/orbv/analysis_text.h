#pragma once

#include <string>

#include "flat_json.h"

namespace orbv_tool {

// Whether a document is an analysis result: it has the fields the headline shows.
bool is_analysis_result(const Fields& fields);

// One file's block on standard output: "FILE: TYPE W x H[, D s, N frames], target" and then
// every value the file has, one a line. Values the library marks absent ("(null)", -1, an
// empty path) are left out, and a still has no duration or frame count.
void print_analysis(const std::string& file, const Fields& fields);

}  // namespace orbv_tool
