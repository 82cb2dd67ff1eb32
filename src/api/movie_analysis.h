#pragma once

#include <cstdint>

#include "api/analysis_info.h"
#include "api/documents.h"

namespace orbv {

// Analyses a MOV/MP4 movie. Returns 0 or -1 and always leaves a document in *document.
int32_t ORBV_analyze_movie(const char* movie_path, const char* thumbnail_path,
                           uint32_t thumbnail_width, uint32_t write_flag, Document* document,
                           AnalysisInfo* info);

}  // namespace orbv
