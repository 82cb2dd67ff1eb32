// ORBV_export: validates the pair and the output location, gathers the host's settings, runs
// the export worker (analyses, projection, frame loop, panorama metadata) and reports its
// outcome; a failed output is removed when the call wrote it.
#include <cmath>
#include <cstdio>
#include <limits>

extern "C" {
#include <libavutil/error.h>
}

#include "api/analysis_info.h"
#include "api/boundary.h"
#include "api/documents.h"
#include "api/export_params.h"
#include "api/movie_analysis.h"
#include "api/progress_interval.h"
#include "api/still_analysis.h"
#include "media/libav_if.h"
#include "metadata/jpeg_file.h"
#include "metadata/mov_file.h"
#include "metadata/panorama_xml.h"
#include "orbv.h"
#include "stitch/plane_luts.h"
#include "stitch/seam_band.h"
#include "stitch/stitch_maps.h"
#include "util/file_system.h"
#include "util/log.h"

namespace orbv {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kThreeHalfPi = 4.71238898038469;

// Analyses one input of the pair as the front end of the analysis would, without thumbnail;
// its document is not needed. A name of neither kind counts as a failed analysis.
int32_t analyze_input(const char* path, AnalysisInfo* info) {
    const std::string extension = file_extension(path);
    Document ignored;
    if (is_jpeg_name(extension)) return ORBV_analyze_jpeg(path, nullptr, 0, 0, &ignored, info);
    if (is_movie_name(extension)) return ORBV_analyze_movie(path, nullptr, 0, 0, &ignored, info);
    return -1;
}

// The camera's lens pictures come in three sizes; each has its own image circle.
double lens_radius_for(int32_t width) {
    switch (width) {
        case 1440:
            return 675.0;
        case 1936:
            return 907.0;
        case 3888:
            return 1821.0;
        default:
            return 0.0;
    }
}

// A float truncated toward zero into 32 bits; values beyond the range (or NaN) saturate
// instead of being undefined.
int32_t truncate_to_int32(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0f) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// Frames of input `slot` inside its window: start and end converted to frame numbers at the
// camera's 1001 ticks a frame, the end held to the stream's frame count.
int64_t frames_in_window(const libavIF& media, int32_t slot, float start_time, float end_time) {
    const AVRational tb = media.video_time_base(slot);
    const int64_t nb_frames = media.video_frame_count(slot);
    const float den = static_cast<float>(tb.den);
    const float num = static_cast<float>(tb.num);
    const int32_t start = truncate_to_int32(den * start_time / num / 1001.0f);
    int64_t end = truncate_to_int32(den * end_time / num / 1001.0f);
    if (static_cast<uint64_t>(end) > static_cast<uint64_t>(nb_frames)) end = nb_frames;
    return end - start;
}

int64_t frames_to_export(int64_t count1, int64_t count2) {
    if (count2 == 0) return count1;
    if (count1 == 0) return count2;
    return static_cast<uint64_t>(count1) < static_cast<uint64_t>(count2) ? count1 : count2;
}

// The lens rolls are given for an upright camera; a camera held otherwise turns each lens's
// picture, lens 1 and lens 2 in opposite directions.
void correct_rolls(int32_t orientation1, int32_t orientation2, Rotation* rotation) {
    auto turn = [](int32_t orientation) {
        switch (orientation) {
            case 3:
                return kPi;
            case 6:
                return kHalfPi;
            case 8:
                return kThreeHalfPi;
            default:
                return 0.0;
        }
    };
    (*rotation)[0] -= turn(orientation1);
    (*rotation)[1] += turn(orientation2);
}

// Marks the finished output as a panorama: a GPano XMP segment for a still, a spherical-video
// atom in the video track of a movie. A refusal of the insertion (no video track, a size that
// would pass its field) leaves the file as it was and is not examined. A write that fails on
// the way (a full disk) may leave the file broken, so it is the export's failure: -1 with the
// system's code, in FFmpeg's negative form, and its text. A file that cannot be reopened throws.
int32_t insert_panorama_metadata(const char* export_path, bool is_jpeg, const ExportParams& params,
                                 int32_t* errnum, std::string* errstr) {
    const std::string xml =
        make_panorama_xml(is_jpeg, params.output_width, params.output_height, params.datetime);
    auto outcome = [&](int32_t result, const BinaryFile& file) {
        if (result == 0 || file.errnum <= 0) return 0;
        *errnum = -file.errnum;
        *errstr = file.errstr;
        return -1;
    };
    if (is_jpeg) {
        JpegFile jpeg(export_path, true);
        const int32_t result = outcome(jpeg.insert_xmp(xml.c_str()), jpeg);
        log_message(LOG_TRACE, "[.jpeg analyze] close stream");
        jpeg.close();
        return result;
    }
    MovFile mov(export_path, true);
    const int32_t result = outcome(mov.insert_spherical_xml(xml.c_str()), mov);
    mov.close();
    return result;
}

int32_t _ORBV_export(const char* movie_path1, const char* movie_path2, const char* export_path,
                     const char* band_image_path, const char* cancel_path, ExportParams params,
                     Document* document, int32_t* canceled, ProgressCallback callback) {
    log_message(LOG_TRACE, "[_ORBV_export]");
    auto fail = [&](ErrorCode code, const char* api_errstr, int32_t api_errnum, int32_t result) {
        *document =
            export_error_json(movie_path1, movie_path2, export_path, code, api_errstr, api_errnum);
        return result;
    };

    AnalysisInfo info1, info2;
    int32_t result = analyze_input(movie_path1, &info1);
    if (result != 0)
        return fail(errors::kExportAnalyze1Failed, kExportAnalyzeApiText, result, result);
    result = analyze_input(movie_path2, &info2);
    if (result != 0)
        return fail(errors::kExportAnalyze2Failed, kExportAnalyzeApiText, result, result);
    log_message(LOG_TRACE, "[_ORBV_export_analyze] frame_count1:%ld frame_count2:%ld",
                static_cast<long>(info1.frame_count), static_cast<long>(info2.frame_count));

    char size_text[255];
    if (info1.width != info2.width || info1.height != info2.height) {
        log_message(LOG_ERROR,
                    "[_ORBV_export_analyze] size error width1:%d width2:%d height1%d height2:%d",
                    info1.width, info2.width, info1.height, info2.height);
        std::snprintf(size_text, sizeof(size_text), kExportSizeMismatchFormat, info1.width,
                      info2.width, info1.height, info2.height);
        return fail(errors::kExportSizeMismatch, size_text, -1, -1);
    }
    correct_rolls(info1.orientation, info2.orientation, &params.rotation);

    params.lens_radius = lens_radius_for(info1.width);
    if (params.lens_radius == 0.0) {
        std::snprintf(size_text, sizeof(size_text), kExportWidthFormat, info1.width);
        return fail(errors::kExportWidthUnsupported, size_text, -1, -1);
    }

    // The stitched picture is 4:2:0 with chroma planes of exactly half its size, so an empty
    // or odd size cannot be written (an odd one made the encoder copy past the chroma planes
    // and abort the host).
    if (params.output_width <= 0 || params.output_height <= 0 || params.output_width % 2 != 0 ||
        params.output_height % 2 != 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(AVERROR(EINVAL), text, sizeof(text));
        return fail(errors::kExportWriteFailed, text, AVERROR(EINVAL), -1);
    }

    if (band_image_path != nullptr) {
        params.band = load_seam_band(band_image_path, info1.width);
        params.band_rows = params.band.planes.empty() ? 0 : params.band.planes[0].rows;
    } else {
        params.band = PlaneSet();
        params.band_rows = 0;
    }
    params.maps = build_stitch_maps(cv::Size(params.output_width, params.output_height),
                                    cv::Size(info1.width, info1.height), params.lens_radius,
                                    params.band_rows, params.rotation);

    libavIF media(movie_path1, movie_path2);
    if (media.open_input(0) != 0 || media.open_input(1) != 0) {
        media.close_input();
        return fail(errors::kExportOpenFailed, media.errstr, media.errnum, -1);
    }

    const int64_t count =
        frames_to_export(frames_in_window(media, 0, params.start_time1, params.end_time1),
                         frames_in_window(media, 1, params.start_time2, params.end_time2));
    params.progress_interval = progress_interval(count);
    if (callback != nullptr) {
        deliver(callback, STATE_START,
                export_result_json(movie_path1, movie_path2, export_path, STATE_START, count));
    }

    if (media.write_video(export_path, cancel_path, params, callback) != 0) {
        *canceled = media.cancelled ? 1 : 0;
        const ErrorCode code =
            media.cancelled ? errors::kExportCanceled : errors::kExportWriteFailed;
        const int32_t api_errnum = media.cancelled ? -1 : media.errnum;
        media.close_input();
        return fail(code, media.errstr, api_errnum, -1);
    }
    // Inputs that end before their first pair give a panorama without a single picture.
    if (media.video_pts == 0) {
        media.close_input();
        media.set_error(AVERROR_EOF);
        log_message(LOG_ERROR, "[_ORBV_export] no picture pair in the inputs");
        return fail(errors::kExportWriteFailed, media.errstr, media.errnum, -1);
    }
    media.close_input();

    int32_t write_errnum = 0;
    std::string write_errstr;
    if (insert_panorama_metadata(export_path, info1.is_still && info2.is_still, params,
                                 &write_errnum, &write_errstr) != 0) {
        log_message(LOG_ERROR, "[_ORBV_export] panorama metadata not written errnum:%d error:%s",
                    write_errnum, write_errstr.c_str());
        return fail(errors::kExportWriteFailed, write_errstr.c_str(), write_errnum, -1);
    }
    *document = export_result_json(movie_path1, movie_path2, export_path, STATE_DONE, count);
    return 0;
}

// A pair of stills becomes one JPEG picture, any other pair an H.264 movie, and the muxer is
// chosen by the output's name: a name of another kind would get only the last picture, or a
// file that the panorama marking breaks. Null when the name fits, else the text that says
// which names do.
const char* unfit_output_name(const char* movie_path1, const char* movie_path2,
                              const char* export_path) {
    const std::string extension = file_extension(export_path);
    if (is_jpeg_name(file_extension(movie_path1)) && is_jpeg_name(file_extension(movie_path2)))
        return is_jpeg_name(extension) ? nullptr : kExportStillNameText;
    return is_movie_name(extension) ? nullptr : kExportMovieNameText;
}

// Validation in the interface's order; null when the export may go ahead. A null export path
// is refused: nothing after validation could write without one. So is an export path that
// names an input: the loop would overwrite the input while reading it, and the failure that
// follows would remove it.
Document validate(const char* movie_path1, const char* movie_path2, const char* export_path) {
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
    return Document();
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
    const FileStamp before = file_stamp(export_path);
    return run_guarded(
        [&]() -> int32_t {
            int32_t canceled = 0;
            int32_t result = -1;
            Document document = validate(movie_path1, movie_path2, export_path);
            if (!document) {
                ExportParams params;
                params.output_width = output_width;
                params.output_height = output_height;
                params.rotation = {lens1_roll_degrees * kPi / 180.0,
                                   lens2_roll_degrees * kPi / 180.0, 0.0, 0.0,
                                   y_rotation_degrees * kPi / 180.0};
                params.luts1 = make_plane_luts(y_offset1, u_offset1, v_offset1);
                params.luts2 = make_plane_luts(y_offset2, u_offset2, v_offset2);
                params.start_time1 = start_time1;
                params.start_time2 = start_time2;
                params.end_time1 = end_time1;
                params.end_time2 = end_time2;
                params.audio_input = audio_input;
                params.datetime = datetime;
                result = _ORBV_export(movie_path1, movie_path2, export_path, band_image_path,
                                      cancel_path, params, &document, &canceled, callback);
                if (result != 0) remove_output(export_path, before);
            }
            const int32_t state =
                result == 0 ? STATE_DONE : (canceled ? STATE_CANCELED : STATE_FAILED);
            deliver(callback, state, std::move(document));
            return 0;
        },
        [&](const char* text) -> int32_t {
            remove_output(export_path, before);
            return report_thrown(callback, [&] {
                return export_error_json(movie_path1, movie_path2, export_path,
                                         errors::kExportUnknown, text, -1);
            });
        });
}
