// The choice between the still and the movie analysis, by what the file holds.
#include "api/analyses.h"
#include "api/error_codes.h"
#include "media/file_content.h"

namespace orbv {

int32_t analyze_by_content(const char* movie_path, const char* thumbnail_path,
                           const char* thumbnail_write_path, uint32_t thumbnail_width,
                           uint32_t write_flag, Document* document, AnalysisInfo* info) {
    const FileContent content = file_content(movie_path);
    if (content.kind == FileKind::kJpegPicture) {
        return ORBV_analyze_jpeg(movie_path, thumbnail_path, thumbnail_write_path, thumbnail_width,
                                 write_flag, document, info);
    }
    if (content.kind == FileKind::kMovie) {
        return ORBV_analyze_movie(movie_path, thumbnail_path, thumbnail_write_path, thumbnail_width,
                                  write_flag, document, info);
    }
    if (document != nullptr) {
        *document =
            movie_error_json(movie_path, errors::kAnalysisNotMedia, content.what.c_str(), -1);
    }
    return -1;
}

}  // namespace orbv
