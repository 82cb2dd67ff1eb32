// ORBV_analyze_image: checks the file and the thumbnail location, picks the still or movie
// analysis by what the file holds and reports its document.
#include "api/analyses.h"
#include "api/documents.h"
#include "api/front_end.h"
#include "orbv.h"
#include "util/file_system.h"

namespace orbv {
namespace {

// The file and the thumbnail location; null when the analysis may go ahead.
Document validate(const char* movie_path, const char* thumbnail_path) {
    auto fail = [&](ErrorCode code) { return movie_error_json(movie_path, code, "", -1); };
    if (!file_exists(movie_path)) return fail(errors::kAnalysisInputMissing);
    if (thumbnail_path != nullptr) {
        // The thumbnail would overwrite the input while it is read, and a failure would then
        // remove the input itself.
        if (!is_writable(thumbnail_path) || same_file(thumbnail_path, movie_path)) {
            return fail(errors::kThumbnailNotWritable);
        }
        if (!has_free_space(thumbnail_path)) return fail(errors::kAnalysisDiskFull);
    }
    return Document();
}

}  // namespace
}  // namespace orbv

extern "C" ORBV_API int64_t ORBV_analyze_image(const char* movie_path, const char* thumbnail_path,
                                               uint32_t thumbnail_width, uint32_t writeFlag,
                                               ProgressCallback callback) {
    using namespace orbv;
    return run_front_end<int64_t>(
        thumbnail_path, callback, [&] { return validate(movie_path, thumbnail_path); },
        [&](Document* document) {
            AnalysisInfo info;
            return CallOutcome{analyze_by_content(movie_path, thumbnail_path, thumbnail_width,
                                                  writeFlag, document, &info)};
        },
        [&](const char* text) {
            return movie_error_json(movie_path, errors::kAnalysisUnknown, text, -1);
        });
}
