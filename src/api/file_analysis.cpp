#include "api/file_analysis.h"

#include <cstring>
#include <string>

#include "media/container_date.h"
#include "media/thumbnail_job.h"
#include "util/error.h"
#include "util/log.h"

namespace orbv {

namespace {

constexpr char kCameraMaker[] = "ORVAX COMPUTER";  // first 14 characters compared
constexpr char kCameraModel[] = "ZK-TR500";        // first 8 characters compared

bool is_camera_target(const ExifInfo& exif) {
    const bool maker =
        exif.maker && std::strncmp(exif.maker.get(), kCameraMaker, sizeof(kCameraMaker) - 1) == 0;
    const bool model =
        exif.model && std::strncmp(exif.model.get(), kCameraModel, sizeof(kCameraModel) - 1) == 0;
    const int32_t mode = exif.capture_mode;
    return maker && model && (mode == 128 || mode == 129 || mode == 134);
}

// The analysis document's values; "datetime" is the EXIF date when present, else the
// panorama date, else `container_date` (a movie's own, "" for none).
AnalysisFields analysis_fields(const CameraMetadata& metadata, const libavIF& media, bool is_target,
                               bool created_thumbnail, const char* type,
                               const std::string& container_date) {
    const ExifInfo& exif = metadata.exif;
    AnalysisFields f;
    f.width = media.width();
    f.height = media.height();
    f.duration = media.duration();
    f.frame_count = media.nb_frames();
    f.maker = exif.maker.get();
    f.model = exif.model.get();
    f.orientation = exif.orientation;
    f.capture_mode = exif.capture_mode;
    f.multi_capture = exif.multi_capture;
    f.camera_orientation = exif.camera_orientation;
    f.youtube360_maker = metadata.software.get();
    f.is_target = is_target;
    f.created_thumbnail = created_thumbnail;
    f.datetime = exif.datetime ? exif.datetime.get() : metadata.date.get();
    if (f.datetime == nullptr && !container_date.empty()) f.datetime = container_date.c_str();
    f.type = type;
    return f;
}

// The record the export reads; multi_capture keeps its low 32 bits.
AnalysisInfo analysis_info(const ExifInfo& exif, const libavIF& media, bool is_target,
                           bool is_still) {
    AnalysisInfo info;
    info.width = media.width();
    info.height = media.height();
    info.duration = media.duration();
    info.frame_count = media.nb_frames();
    info.orientation = exif.orientation;
    info.capture_mode = exif.capture_mode;
    info.multi_capture = static_cast<int32_t>(static_cast<uint32_t>(exif.multi_capture));
    info.camera_orientation = exif.camera_orientation;
    info.is_target = is_target;
    info.is_still = is_still;
    const AVStream* video = media.input(0).video_stream();
    info.is_jpeg_picture = media.input(0).still() && video != nullptr &&
                           video->codecpar->codec_id == AV_CODEC_ID_MJPEG;
    return info;
}

// Ends an analysis whose media step failed: the document carries the layer's error, and
// "<context> errnum:%d error:%s:" is logged. Returns -1.
int32_t fail_media_step(const char* path, ErrorCode code, const MediaError& error,
                        const std::string& context, Document* document) {
    // The layer's text may carry a path (the thumbnail's): the document and the log line show
    // it escaped.
    const std::string text = json_escape(error.text());
    if (document != nullptr)
        *document = movie_error_json(path, code.errstr, text.c_str(), code.errnum, error.code());
    log_message(LOG_ERROR, "%s errnum:%d error:%s:", context.c_str(), error.code(), text.c_str());
    return -1;
}

// Writes the thumbnail when a path is given and the file is a target or the host asks for it
// anyway; the thumbnail job takes the input over. 0 with *created set, or -1 as
// fail_media_step with "<tag> write_tuhmbnail error".
int32_t thumbnail_step(const AnalysisFormat& format, const AnalysisRequest& request, bool is_target,
                       int32_t orientation, libavIF& media, bool* created, Document* document) {
    *created = false;
    if (request.thumbnail_path == nullptr || (request.write_flag == 0 && !is_target)) return 0;
    ThumbnailJob thumbnail(media.take_input(0));
    thumbnail.name_output(request.thumbnail_path);
    const JobOutcome outcome = thumbnail.write_thumbnail(
        request.thumbnail_write_path, static_cast<int32_t>(request.thumbnail_width), orientation);
    if (outcome.failed()) {
        return fail_media_step(request.path, errors::kThumbnailWriteFailed, outcome.error,
                               std::string(format.tag()) + " write_tuhmbnail error", document);
    }
    *created = true;
    return 0;
}

// The steps inside the reader's error handling.
int32_t analyze_steps(const AnalysisFormat& format, const AnalysisRequest& request,
                      Document* document, AnalysisInfo* info) {
    const CameraMetadata metadata = format.read_metadata(request.path);
    bool is_target = is_target_file(metadata);
    libavIF media(request.path);
    // An analysis decodes one picture at most: threads that decode pictures ahead would only
    // add their start, their delay before the first picture and their end.
    media.set_decoder_threads(kFirstPictureThreads);
    const int32_t opened = media.open_input(0);
    format.after_open(media, opened, request, metadata, &is_target);
    if (opened != 0) {
        media.close_input();
        return fail_media_step(request.path, errors::kAnalysisOpenFailed, media.error(),
                               std::string(format.tag()) + " open_inputfile error", document);
    }
    // The record is taken before the thumbnail job takes the input over.
    AnalysisInfo found = analysis_info(metadata.exif, media, is_target, format.is_still());
    // Other cameras' movies keep their date in the container only.
    const std::string date = format.is_still() ? "" : container_date(media.input(0).container());
    bool created_thumbnail = false;
    if (thumbnail_step(format, request, is_target, metadata.exif.orientation, media,
                       &created_thumbnail, document) != 0) {
        return -1;
    }
    if (document != nullptr) {
        *document = analysis_json(
            request.path, request.thumbnail_path,
            analysis_fields(metadata, media, is_target, created_thumbnail, format.type(), date));
    }
    found.created_thumbnail = created_thumbnail;
    *info = found;
    media.close_input();
    return 0;
}

}  // namespace

bool is_target_file(const CameraMetadata& metadata) {
    return is_camera_target(metadata.exif) || metadata.stitched == 0;
}

int32_t analyze_file(const AnalysisFormat& format, const AnalysisRequest& request,
                     Document* document, AnalysisInfo* info) {
    log_message(LOG_TRACE, "%s start:%s:", format.tag(), or_null(request.path));
    if (document != nullptr) document->reset();
    try {
        const int32_t result = analyze_steps(format, request, document, info);
        if (result != 0) return result;
    } catch (const Error& e) {
        // A reader that threw: the 19999 document with the thrown text.
        if (document != nullptr)
            *document = movie_error_json(request.path, errors::kAnalysisUnknown, e.what(), -1);
        log_message(LOG_ERROR, "%s an unknown error occurred errnum:%d error:%s:", format.tag(), -1,
                    e.what());
        return -1;
    }
    log_message(LOG_TRACE, "%s end:%s:", format.tag(), or_null(request.path));
    return 0;
}

}  // namespace orbv
