// ORBV_analyze_image: checks the file and the thumbnail location, picks the still or movie
// analysis by the file name and reports its document.
#include "api/analyses.h"
#include "api/boundary.h"
#include "api/documents.h"
#include "orbv.h"
#include "util/file_system.h"

namespace orbv {
namespace {

int32_t analyze(const char* movie_path, const char* thumbnail_path, uint32_t thumbnail_width,
                uint32_t write_flag, Document* document) {
    auto fail = [&](ErrorCode code) {
        *document = movie_error_json(movie_path, code, "", -1);
        return -1;
    };
    if (!file_exists(movie_path)) return fail(errors::kAnalysisInputMissing);
    if (thumbnail_path != nullptr) {
        // The thumbnail would overwrite the input while it is read, and a failure would then
        // remove the input itself.
        if (!is_writable(thumbnail_path) || same_file(thumbnail_path, movie_path)) {
            return fail(errors::kThumbnailNotWritable);
        }
        if (!has_free_space(thumbnail_path)) return fail(errors::kAnalysisDiskFull);
    }

    const std::string extension = file_extension(movie_path);
    AnalysisInfo info;
    int32_t result = -1;
    if (is_jpeg_name(extension)) {
        result = ORBV_analyze_jpeg(movie_path, thumbnail_path, thumbnail_width, write_flag,
                                   document, &info);
    } else if (is_movie_name(extension)) {
        result = ORBV_analyze_movie(movie_path, thumbnail_path, thumbnail_width, write_flag,
                                    document, &info);
    } else {
        *document = movie_error_json(movie_path, errors::kAnalysisNotMedia, "", -1);
    }
    return result;
}

}  // namespace
}  // namespace orbv

extern "C" ORBV_API int64_t ORBV_analyze_image(const char* movie_path, const char* thumbnail_path,
                                               uint32_t thumbnail_width, uint32_t writeFlag,
                                               ProgressCallback callback) {
    using namespace orbv;
    const FileStamp before = file_stamp(thumbnail_path);
    return run_guarded(
        [&]() -> int64_t {
            Document document;
            const int32_t result =
                analyze(movie_path, thumbnail_path, thumbnail_width, writeFlag, &document);
            if (result != 0) remove_output(thumbnail_path, before);
            deliver(callback, result == 0 ? STATE_DONE : STATE_FAILED, std::move(document));
            return 0;
        },
        [&](const char* text) -> int64_t {
            remove_output(thumbnail_path, before);
            return report_thrown(callback, [&] {
                return movie_error_json(movie_path, errors::kAnalysisUnknown, text, -1);
            });
        });
}
