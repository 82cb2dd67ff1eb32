#pragma once

#include <cstdint>

#include "api/analysis_info.h"
#include "api/documents.h"

// The analyses of the two kinds of camera file, for the analysis call and the export. Each
// returns 0 or -1 and always leaves a document in *document; a successful one fills *info. The
// thumbnail goes to thumbnail_write_path; the document names thumbnail_path, the host's. A null
// `document` asks for none (the export, which writes its own).
namespace orbv {

// A JPEG still.
int32_t ORBV_analyze_jpeg(const char* movie_path, const char* thumbnail_path,
                          const char* thumbnail_write_path, uint32_t thumbnail_width,
                          uint32_t write_flag, Document* document, AnalysisInfo* info);

// A MOV/MP4 movie.
int32_t ORBV_analyze_movie(const char* movie_path, const char* thumbnail_path,
                           const char* thumbnail_write_path, uint32_t thumbnail_width,
                           uint32_t write_flag, Document* document, AnalysisInfo* info);

// The analysis the file's content calls for: the still's for a JPEG picture, the movie's for a
// movie, whatever the name; the thumbnail goes to thumbnail_write_path. Another file leaves the
// 10001 "Not Movie & JPEG" document, whose api_errstr says what the file is, and -1.
int32_t analyze_by_content(const char* movie_path, const char* thumbnail_path,
                           const char* thumbnail_write_path, uint32_t thumbnail_width,
                           uint32_t write_flag, Document* document, AnalysisInfo* info);

}  // namespace orbv
