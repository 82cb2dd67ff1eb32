// ORBV_export: validates the pair and the output location, gathers the host's settings, runs
// the export worker (analyses, projection, frame loop, panorama metadata) and reports its
// outcome; the panorama replaces a file at the export path only once it is complete.
#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "api/documents.h"
#include "api/export_worker.h"
#include "api/front_end.h"
#include "media/export_params.h"
#include "media/file_content.h"
#include "metadata/mov_file.h"
#include "orbv.h"
#include "stitch/lens_geometry.h"
#include "stitch/plane_luts.h"
#include "util/camera_date.h"
#include "util/file_system.h"

namespace orbv {
namespace {

// A pair of JPEG pictures (by content, as the analyses tell them) becomes one JPEG picture, any
// other pair an H.264 movie, and the muxer is chosen by the output's name: a name of another
// kind would get only the last picture, or a file that the panorama marking breaks. Null when
// the name fits, else the text that says which names do.
const char* unfit_output_name(const char* movie_path1, const char* movie_path2,
                              const char* export_path) {
    const std::string extension = file_extension(export_path);
    if (file_content(movie_path1).kind == FileKind::kJpegPicture &&
        file_content(movie_path2).kind == FileKind::kJpegPicture)
        return is_jpeg_name(extension) ? nullptr : kExportStillNameText;
    return is_export_movie_name(extension) ? nullptr : kExportMovieNameText;
}

// The host's numbers, by their parameter names.
struct ExportNumbers {
    std::pair<const char*, float> floats[6];
    std::pair<const char*, int32_t> offsets[6];
    const char* datetime;
};

// Why the numbers give no right panorama, as the api_errstr names it; "" when they fit. A roll
// that is no finite number samples nothing and an offset past a sample's range floods its plane:
// either gives a flat half. A movie's date must be one its headers carry; a still's date goes
// into EXIF as text, and a text that is no date leaves either undated.
std::string unfit_numbers(const ExportNumbers& numbers, const char* export_path) {
    for (const auto& [name, value] : numbers.floats) {
        if (!std::isfinite(value))
            return std::string("[_ORBV_export]:") + name + " must be a finite number";
    }
    for (const auto& [name, value] : numbers.offsets) {
        if (value != ORBV_OFFSET_UNCHANGED && (value < -255 || value > 255))
            return std::string("[_ORBV_export]:") + name + " must lie in -255..255 or be " +
                   std::to_string(ORBV_OFFSET_UNCHANGED) + " (unchanged)";
    }
    int64_t seconds;
    if (is_movie_name(file_extension(export_path)) &&
        camera_date_seconds(numbers.datetime, &seconds) &&
        (seconds < kMovieDateFirst || seconds > kMovieDateLast))
        return std::string("[_ORBV_export]:datetime of a movie must lie in ") + kMovieDateRange;
    return "";
}

// Validation in the interface's order; null when the export may go ahead. A null export path
// is refused: nothing after validation could write without one. So is an export path that
// names an input: the loop would overwrite the input while reading it, and the failure that
// follows would remove it. The numbers come last, still before any file is opened.
Document validate(const char* movie_path1, const char* movie_path2, const char* export_path,
                  const ExportNumbers& numbers) {
    auto fail = [&](ErrorCode code) {
        return export_error_json(movie_path1, movie_path2, export_path, code, "", -1);
    };
    if (!file_exists(movie_path1)) return fail(errors::kExportInput1Missing);
    if (!file_exists(movie_path2)) return fail(errors::kExportInput2Missing);
    if (export_path == nullptr || !is_writable(export_path) ||
        same_file(export_path, movie_path1) || same_file(export_path, movie_path2))
        return fail(errors::kExportNotWritable);
    if (const char* wanted = unfit_output_name(movie_path1, movie_path2, export_path))
        return export_error_json(movie_path1, movie_path2, export_path, errors::kExportNotWritable,
                                 wanted, -1);
    if (export_space_check(movie_path1, movie_path2, export_path) != 0)
        return fail(errors::kExportDiskFull);
    const std::string unfit = unfit_numbers(numbers, export_path);
    if (!unfit.empty())
        return export_error_json(movie_path1, movie_path2, export_path, errors::kExportNumberUnfit,
                                 unfit.c_str(), -1);
    return Document();
}

// A host's colour offset: ORBV_OFFSET_UNCHANGED leaves its plane as it is.
std::optional<int32_t> plane_offset(int32_t offset) {
    if (offset == ORBV_OFFSET_UNCHANGED) return std::nullopt;
    return offset;
}

}  // namespace
}  // namespace orbv

extern "C" ORBV_API int32_t ORBV_export(
    const char* movie_path1, const char* movie_path2, const char* export_path,
    const char* band_image_path, int32_t output_width, int32_t output_height,
    int32_t y_rotation_degrees, float lens1_roll_degrees, float lens2_roll_degrees,
    int32_t y_offset1, int32_t u_offset1, int32_t v_offset1, int32_t y_offset2, int32_t u_offset2,
    int32_t v_offset2, float start_time1, float start_time2, float end_time1, float end_time2,
    int32_t audio_input, const char* datetime, const char* cancel_path, ProgressCallback callback) {
    using namespace orbv;
    const ExportNumbers numbers{{{"lens1_roll_degrees", lens1_roll_degrees},
                                 {"lens2_roll_degrees", lens2_roll_degrees},
                                 {"start_time1", start_time1},
                                 {"start_time2", start_time2},
                                 {"end_time1", end_time1},
                                 {"end_time2", end_time2}},
                                {{"y_offset1", y_offset1},
                                 {"u_offset1", u_offset1},
                                 {"v_offset1", v_offset1},
                                 {"y_offset2", y_offset2},
                                 {"u_offset2", u_offset2},
                                 {"v_offset2", v_offset2}},
                                datetime};
    return run_front_end<int32_t>(
        export_path, callback,
        [&] { return validate(movie_path1, movie_path2, export_path, numbers); },
        [&](const char* text, int32_t errnum) {
            return export_error_json(movie_path1, movie_path2, export_path,
                                     errors::kExportNotWritable, text, errnum);
        },
        [&](Document* document, const char* write_path) {
            ExportParams params;
            params.output_width = output_width;
            params.output_height = output_height;
            params.rotation =
                rotation_from_degrees(y_rotation_degrees, lens1_roll_degrees, lens2_roll_degrees);
            params.luts1 = make_plane_luts(plane_offset(y_offset1), plane_offset(u_offset1),
                                           plane_offset(v_offset1));
            params.luts2 = make_plane_luts(plane_offset(y_offset2), plane_offset(u_offset2),
                                           plane_offset(v_offset2));
            params.window1 = TimeWindow::from_host(start_time1, end_time1);
            params.window2 = TimeWindow::from_host(start_time2, end_time2);
            params.audio_input = audio_input;
            params.datetime = datetime;
            int32_t canceled = 0;
            const int32_t result =
                _ORBV_export(movie_path1, movie_path2, export_path, write_path, band_image_path,
                             cancel_path, params, document, &canceled, callback);
            return CallOutcome{result, canceled != 0};
        },
        [&](const char* text) {
            return export_error_json(movie_path1, movie_path2, export_path, errors::kExportUnknown,
                                     text, -1);
        });
}
