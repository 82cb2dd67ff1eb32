// The export worker: analyses, projection, frame loop, panorama metadata.
#include "api/export_worker.h"

#include <cstdio>
#include <utility>

extern "C" {
#include <libavutil/error.h>
}

#include "api/analyses.h"
#include "api/analysis_info.h"
#include "api/host_progress.h"
#include "media/libav_if.h"
#include "media/panorama_export.h"
#include "media/stitch_decision.h"
#include "metadata/jpeg_file.h"
#include "metadata/mov_file.h"
#include "metadata/panorama_xml.h"
#include "util/camera_date.h"
#include "util/file_system.h"
#include "util/log.h"

namespace orbv {
namespace {

// The paths of one export and the document its failures leave. The documents name the host's
// export path; the panorama is written to write_path.
struct ExportJob {
    const char* movie_path1;
    const char* movie_path2;
    const char* export_path;
    const char* write_path;
    Document* document;

    int32_t fail(ErrorCode code, const char* api_errstr, int32_t api_errnum, int32_t result) {
        *document =
            export_error_json(movie_path1, movie_path2, export_path, code, api_errstr, api_errnum);
        return result;
    }
};

// Analyses one input of the pair as the front end of the analysis would, without thumbnail
// and without a document, which the export does not need. A file of neither kind counts as a
// failed analysis.
int32_t analyze_input(const char* path, AnalysisInfo* info) {
    return analyze_by_content(path, nullptr, nullptr, 0, 0, nullptr, info);
}

// Both inputs analysed, and of one size.
int32_t analyze_pair(ExportJob& job, AnalysisInfo* info1, AnalysisInfo* info2) {
    int32_t result = analyze_input(job.movie_path1, info1);
    if (result != 0) {
        return job.fail(errors::kExportAnalyze1Failed, kExportAnalyzeApiText, result, result);
    }
    result = analyze_input(job.movie_path2, info2);
    if (result != 0) {
        return job.fail(errors::kExportAnalyze2Failed, kExportAnalyzeApiText, result, result);
    }
    log_message(LOG_TRACE, "[_ORBV_export_analyze] frame_count1:%ld frame_count2:%ld",
                static_cast<long>(info1->frame_count), static_cast<long>(info2->frame_count));
    // A still pair is two JPEG pictures by content: a movie or another picture under a JPEG
    // name would be stitched as a still and written into the JPEG.
    if (info1->is_still && info2->is_still) {
        if (!info1->is_jpeg_picture) {
            return job.fail(errors::kExportAnalyze1Failed, kExportNotJpegText, -1, -1);
        }
        if (!info2->is_jpeg_picture) {
            return job.fail(errors::kExportAnalyze2Failed, kExportNotJpegText, -1, -1);
        }
    }
    if (info1->width == info2->width && info1->height == info2->height) return 0;
    log_message(LOG_ERROR,
                "[_ORBV_export_analyze] size error width1:%d width2:%d height1%d height2:%d",
                info1->width, info2->width, info1->height, info2->height);
    char size_text[255];
    std::snprintf(size_text, sizeof(size_text), kExportSizeMismatchFormat, info1->width,
                  info2->width, info1->height, info2->height);
    return job.fail(errors::kExportSizeMismatch, size_text, -1, -1);
}

// The stitch of the export, or its refusal before the maps.
int32_t prepare_projection(ExportJob& job, const char* band_image_path, const AnalysisInfo& info1,
                           const AnalysisInfo& info2, const ExportParams& params,
                           StitchSetup* stitch) {
    const PairFacts facts{info1.width, info1.height, info1.orientation, info2.orientation,
                          info1.is_still && info2.is_still};
    StitchDecision decision = decide_stitch(params, band_image_path, facts);
    if (decision.refusal == StitchRefusal::kLensWidth) {
        char width_text[255];
        std::snprintf(width_text, sizeof(width_text), kExportWidthFormat, info1.width);
        return job.fail(errors::kExportWidthUnsupported, width_text, -1, -1);
    }
    if (decision.refusal == StitchRefusal::kPanoramaSize) {
        log_message(LOG_ERROR, "%s", decision.limit.c_str());
        return job.fail(errors::kExportSizeUnsupported, decision.limit.c_str(), -1, -1);
    }
    *stitch = std::move(decision.setup);
    return 0;
}

// A movie's window that starts at or past the movie's end, or ends before it starts, holds no
// picture: refused before any work, with the window and the duration the container states.
int32_t check_window(ExportJob& job, const InputSlot& input, const TimeWindow& window,
                     ErrorCode code) {
    const double duration = input.video_duration();
    const bool past_end = duration > 0 && window.start >= duration;
    if (input.still() || (!past_end && window.end > window.start)) return 0;
    char text[255];
    std::snprintf(text, sizeof(text), kExportWindowFormat, window.start,
                  window.has_end() ? window.end : -1.0, duration);
    log_message(LOG_ERROR, "%s", text);
    return job.fail(code, text, -1, -1);
}

// Opens both inputs, checks the windows, announces the frames to export and runs the export
// job, which takes the inputs over; *count receives the announced count. The analysis opened
// each input already, but FFmpeg's lines of this opening are part of the export's log.
int32_t run_frame_loop(ExportJob& job, const char* cancel_path, ProgressCallback callback,
                       const ExportParams& params, StitchSetup stitch, int32_t* canceled,
                       int64_t* count) {
    libavIF media(job.movie_path1, job.movie_path2);
    if (media.open_input(0) != 0 || media.open_input(1) != 0) {
        media.close_input();
        return job.fail(errors::kExportOpenFailed, media.errstr(), media.errnum(), -1);
    }
    if (check_window(job, media.input(0), params.window1, errors::kExportWindow1Empty) != 0 ||
        check_window(job, media.input(1), params.window2, errors::kExportWindow2Empty) != 0) {
        media.close_input();
        return -1;
    }
    const ExportPlan plan = plan_export(params, std::move(stitch), media.input(0), media.input(1));
    *count = plan.expected;
    PanoramaExport panorama(media.take_input(0), media.take_input(1), plan);
    ExportProgress progress(callback, cancel_path, job.movie_path1, job.movie_path2,
                            job.export_path);
    progress.announce(*count);

    const JobOutcome outcome = panorama.write_video(job.write_path, progress);
    if (outcome.failed()) {
        *canceled = outcome.cancelled() ? 1 : 0;
        const ErrorCode code =
            outcome.cancelled() ? errors::kExportCanceled : errors::kExportWriteFailed;
        const int32_t api_errnum = outcome.cancelled() ? -1 : outcome.error.code();
        return job.fail(code, outcome.error.text(), api_errnum, -1);
    }
    // Inputs that end before their first pair give a panorama without a single picture.
    if (outcome.pictures == 0) {
        MediaError none;
        none.fail(AVERROR_EOF);
        log_message(LOG_ERROR, "[_ORBV_export] no picture pair in the inputs");
        return job.fail(errors::kExportWriteFailed, none.text(), none.code(), -1);
    }
    return 0;
}

// Marks the finished output as a panorama: a GPano XMP segment for a still (after its EXIF
// date), a spherical-video atom in the video track of a movie, whose headers then take the date. A
// refusal of the insertion (no video track, a size that would pass its field) leaves the file as it
// was and is not examined. A write that fails on the way (a full disk) may leave the file broken,
// so it is the export's failure: -1 with the system's code, in FFmpeg's negative form, and its
// text. A file that cannot be reopened throws.
int32_t insert_panorama_metadata(const char* export_path, bool is_jpeg, const ExportParams& params,
                                 int32_t* errnum, std::string* errstr) {
    const std::string xml =
        make_panorama_xml(is_jpeg, params.output_width, params.output_height, params.datetime);
    auto outcome = [&](int32_t result, const BinaryFile& file) {
        if (result == 0 || file.error_code() <= 0) return 0;
        *errnum = -file.error_code();
        *errstr = file.error_text();
        return -1;
    };
    if (is_jpeg) {
        JpegFile jpeg(export_path, true);
        // The date first: the XMP then stands before it, in the first APP1 slot.
        int32_t result = outcome(jpeg.insert_exif_date(params.datetime), jpeg);
        if (result == 0) result = outcome(jpeg.insert_xmp(xml.c_str()), jpeg);
        log_message(LOG_TRACE, "[.jpeg analyze] close stream");
        jpeg.close();
        return result;
    }
    MovFile mov(export_path, true);
    int32_t result = outcome(mov.insert_spherical_xml(xml.c_str()), mov);
    if (result == 0) result = outcome(mov.fold_free_after_moov(), mov);
    int64_t seconds;
    if (result == 0 && camera_date_seconds(params.datetime, &seconds))
        result = outcome(mov.write_movie_date(seconds), mov);
    mov.close();
    return result;
}

int32_t mark_as_panorama(ExportJob& job, bool is_jpeg, const ExportParams& params) {
    int32_t write_errnum = 0;
    std::string write_errstr;
    if (insert_panorama_metadata(job.write_path, is_jpeg, params, &write_errnum, &write_errstr) ==
        0) {
        return 0;
    }
    log_message(LOG_ERROR, "[_ORBV_export] panorama metadata not written errnum:%d error:%s",
                write_errnum, write_errstr.c_str());
    return job.fail(errors::kExportWriteFailed, write_errstr.c_str(), write_errnum, -1);
}

}  // namespace

int32_t _ORBV_export(const char* movie_path1, const char* movie_path2, const char* export_path,
                     const char* write_path, const char* band_image_path, const char* cancel_path,
                     ExportParams params, Document* document, int32_t* canceled,
                     ProgressCallback callback) {
    log_message(LOG_TRACE, "[_ORBV_export]");
    ExportJob job{movie_path1, movie_path2, export_path, write_path, document};
    AnalysisInfo info1, info2;
    int32_t result = analyze_pair(job, &info1, &info2);
    StitchSetup stitch;
    if (result == 0)
        result = prepare_projection(job, band_image_path, info1, info2, params, &stitch);
    int64_t count = 0;
    if (result == 0)
        result =
            run_frame_loop(job, cancel_path, callback, params, std::move(stitch), canceled, &count);
    if (result == 0) result = mark_as_panorama(job, info1.is_still && info2.is_still, params);
    if (result != 0) return result;
    *document = export_result_json(movie_path1, movie_path2, export_path, STATE_DONE, count);
    return 0;
}

}  // namespace orbv
