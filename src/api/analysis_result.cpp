#include "api/analysis_result.h"

#include <cstring>

#include "util/log.h"

namespace orbv {

namespace {
constexpr char kCameraMaker[] = "ORVAX COMPUTER";  // first 14 characters compared
constexpr char kCameraModel[] = "ZK-TR500";        // first 8 characters compared
}  // namespace

bool is_camera_target(const ExifInfo& exif) {
    const bool maker =
        exif.maker && std::strncmp(exif.maker.get(), kCameraMaker, sizeof(kCameraMaker) - 1) == 0;
    const bool model =
        exif.model && std::strncmp(exif.model.get(), kCameraModel, sizeof(kCameraModel) - 1) == 0;
    const int32_t mode = exif.capture_mode;
    return maker && model && (mode == 128 || mode == 129 || mode == 134);
}

AnalysisFields analysis_fields(const ExifInfo& exif, const libavIF& media, const char* software,
                               const char* panorama_date, bool is_target, bool created_thumbnail,
                               const char* type) {
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
    f.youtube360_maker = software;
    f.is_target = is_target;
    f.created_thumbnail = created_thumbnail;
    f.datetime = exif.datetime ? exif.datetime.get() : panorama_date;
    f.type = type;
    return f;
}

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
    return info;
}

int32_t fail_media_step(const char* path, ErrorCode code, libavIF& media, const char* context,
                        Document* result_text) {
    // The layer's text may carry a path (the thumbnail's): the document and the log line show
    // it escaped.
    const std::string text = json_escape(media.errstr());
    *result_text = movie_error_json(path, code.errstr, text.c_str(), code.errnum, media.errnum());
    media.close_input();
    log_message(LOG_ERROR, "%s errnum:%d error:%s:", context, media.errnum(), text.c_str());
    return -1;
}

int32_t thumbnail_step(const char* tag, const char* path, const char* thumbnail_path,
                       uint32_t thumbnail_width, uint32_t write_flag, bool is_target,
                       const ExifInfo& exif, libavIF& media, bool* created, Document* result_text) {
    *created = false;
    if (thumbnail_path == nullptr || (write_flag == 0 && !is_target)) return 0;
    if (media.write_thumbnail(thumbnail_path, static_cast<int32_t>(thumbnail_width),
                              exif.orientation) != 0) {
        const std::string context = std::string(tag) + " write_tuhmbnail error";
        return fail_media_step(path, errors::kThumbnailWriteFailed, media, context.c_str(),
                               result_text);
    }
    *created = true;
    return 0;
}

int32_t fail_thrown(const char* tag, const char* path, const char* text, Document* result_text) {
    *result_text = movie_error_json(path, errors::kAnalysisUnknown, text, -1);
    log_message(LOG_ERROR, "%s an unknown error occurred errnum:%d error:%s:", tag, -1, text);
    return -1;
}

}  // namespace orbv
