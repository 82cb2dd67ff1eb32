// The analysis of one JPEG still: camera metadata from its APP1 segments, picture facts from
// FFmpeg, the target decision and the optional thumbnail.
#include "api/still_analysis.h"

#include "api/analysis_result.h"
#include "media/libav_if.h"
#include "metadata/exif_info.h"
#include "metadata/jpeg_file.h"
#include "metadata/panorama_xml.h"
#include "util/error.h"
#include "util/log.h"

namespace orbv {

namespace {
constexpr char kTag[] = "[ORBV_analyze_jpeg]";
}

int32_t ORBV_analyze_jpeg(const char* path, const char* thumbnail_path, uint32_t thumbnail_width,
                          uint32_t write_flag, Document* result_text, AnalysisInfo* info) {
    log_message(LOG_TRACE, "[ORBV_analyze_jpeg] start:%s:", or_null(path));
    result_text->reset();
    try {
        JpegFile jpeg(path, false);
        const uint8_t* exif_block = nullptr;
        size_t exif_size = 0;
        if (jpeg.exif_data(&exif_block, &exif_size) != 0) {
            log_message(LOG_TRACE, "[ORBV_analyze_jpeg] exif not found");
            exif_block = nullptr;
            exif_size = 0;
        }
        const char* xmp = nullptr;
        if (jpeg.xmp_data(&xmp) != 0) {
            log_message(LOG_TRACE, "[ORBV_analyze_jpeg] xmp not found");
            xmp = nullptr;
        }
        log_message(LOG_TRACE, "[.jpeg analyze] close stream");
        jpeg.close_stream();

        const ExifInfo exif(exif_block, exif_size);
        OwnedText software, date;
        const int32_t stitched = xmp ? parse_panorama_xml(xmp, &software, &date) : -1;
        const bool is_target = is_camera_target(exif) || stitched == 0;

        libavIF media(path);
        if (media.open_input(0) != 0) {
            return fail_media_step(path, errors::kAnalysisOpenFailed, media,
                                   "[ORBV_analyze_jpeg] open_inputfile error", result_text);
        }

        bool created_thumbnail = false;
        if (thumbnail_step(kTag, path, thumbnail_path, thumbnail_width, write_flag, is_target, exif,
                           media, &created_thumbnail, result_text) != 0) {
            return -1;
        }

        *result_text = analysis_json(path, thumbnail_path,
                                     analysis_fields(exif, media, software.get(), date.get(),
                                                     is_target, created_thumbnail, "JPEG"));
        *info = analysis_info(exif, media, is_target, true);
        media.close_input();
    } catch (const Error& e) {
        return fail_thrown(kTag, path, e.what(), result_text);
    }
    log_message(LOG_TRACE, "[ORBV_analyze_jpeg] end:%s:", or_null(path));
    return 0;
}

}  // namespace orbv
