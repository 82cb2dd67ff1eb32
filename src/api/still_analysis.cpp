#include "api/still_analysis.h"

namespace orbv {

// Not built yet: every still is reported as one that cannot be opened.
int32_t ORBV_analyze_jpeg(const char* movie_path, const char*, uint32_t, uint32_t,
                          Document* document, AnalysisInfo*) {
    *document = movie_error_json(movie_path, errors::kAnalysisOpenFailed,
                                 "still analysis not available", -1);
    return -1;
}

}  // namespace orbv
