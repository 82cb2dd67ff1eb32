// ORBV_export: validates the pair and the output location, runs the export worker and reports
// its outcome; a failed output is removed.
#include "api/boundary.h"
#include "api/documents.h"
#include "orbv.h"
#include "util/file_system.h"
#include "util/log.h"

namespace orbv {
namespace {

// The export work. Not built yet: answers that the video could not be written.
int32_t export_worker(const char* movie_path1, const char* movie_path2, const char* export_path,
                      Document* document, int32_t* canceled) {
    log_message(LOG_TRACE, "[_ORBV_export]");
    *canceled = 0;
    *document = export_error_json(movie_path1, movie_path2, export_path,
                                  errors::kExportWriteFailed, "export not available", -1);
    return -1;
}

// Validation in the interface's order; null when the export may go ahead. A null export path
// is refused: nothing after validation could write without one.
Document validate(const char* movie_path1, const char* movie_path2, const char* export_path) {
    auto fail = [&](ErrorCode code) {
        return export_error_json(movie_path1, movie_path2, export_path, code, "", -1);
    };
    if (!file_exists(movie_path1)) return fail(errors::kExportInput1Missing);
    if (!file_exists(movie_path2)) return fail(errors::kExportInput2Missing);
    if (export_path == nullptr || !is_writable(export_path))
        return fail(errors::kExportNotWritable);
    if (export_space_check(movie_path1, movie_path2, export_path) != 0)
        return fail(errors::kExportDiskFull);
    return Document();
}

}  // namespace
}  // namespace orbv

extern "C" ORBV_API int32_t ORBV_export(
    const char* movie_path1, const char* movie_path2, const char* export_path,
    const char* /*band_image_path*/, int32_t /*output_width*/, int32_t /*output_height*/,
    int32_t /*y_rotation_degrees*/, float /*lens1_roll_degrees*/, float /*lens2_roll_degrees*/,
    int32_t /*y_offset1*/, int32_t /*u_offset1*/, int32_t /*v_offset1*/, int32_t /*y_offset2*/,
    int32_t /*u_offset2*/, int32_t /*v_offset2*/, float /*start_time1*/, float /*start_time2*/,
    float /*end_time1*/, float /*end_time2*/, int32_t /*audio_input*/,
    const char* /*datetime*/, const char* /*cancel_path*/, ProgressCallback callback) {
    using namespace orbv;
    return run_guarded(
        [&]() -> int32_t {
            int32_t canceled = 0;
            int32_t result = -1;
            Document document = validate(movie_path1, movie_path2, export_path);
            if (!document) {
                result = export_worker(movie_path1, movie_path2, export_path, &document,
                                       &canceled);
                if (result != 0) remove_file(export_path);
            }
            const int32_t state =
                result == 0 ? STATE_DONE : (canceled ? STATE_CANCELED : STATE_FAILED);
            deliver(callback, state, std::move(document));
            return 0;
        },
        [&](const char* text) -> int32_t {
            remove_file(export_path);
            return report_thrown(callback, [&] {
                return export_error_json(movie_path1, movie_path2, export_path,
                                         errors::kExportUnknown, text, -1);
            });
        });
}
