// The analysis of one MOV/MP4 movie: camera metadata from its maker atom, the spherical XML of
// its video track, stream facts from FFmpeg, the target decision and the optional thumbnail.
#include "api/movie_analysis.h"

#include "api/analysis_result.h"
#include "media/libav_if.h"
#include "metadata/exif_info.h"
#include "metadata/mov_file.h"
#include "metadata/panorama_xml.h"
#include "util/error.h"
#include "util/log.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace orbv {

namespace {
constexpr char kTag[] = "[ORBV_analyze_movie]";
}

int32_t ORBV_analyze_movie(const char* path, const char* thumbnail_path, uint32_t thumbnail_width,
                           uint32_t write_flag, Document* result_text, AnalysisInfo* info) {
    log_message(LOG_TRACE, "[ORBV_analyze_movie] start:%s:", or_null(path));
    result_text->reset();
    try {
        MovFile mov(path, false);
        const uint8_t* exif_block = nullptr;
        size_t exif_size = 0;
        if (mov.exif_data(&exif_block, &exif_size) != 0) {
            exif_block = nullptr;
            exif_size = 0;
        }
        const char* xml = nullptr;
        if (mov.xml_data(&xml) != 0) xml = nullptr;
        mov.close_stream();

        const ExifInfo exif(exif_block, exif_size);
        OwnedText software, date;
        const int32_t stitched = xml ? parse_panorama_xml(xml, &software, &date) : -1;
        log_message(LOG_TRACE, "[ORBV_analyze_movie] isVELORA360 %d", stitched);
        bool is_target = is_camera_target(exif) || stitched == 0;
        log_message(LOG_TRACE, "[ORBV_analyze_movie] isTarget %d", is_target ? 1 : 0);

        libavIF media(path);
        if (media.open_input(0) != 0) {
            log_message(LOG_ERROR, "[ORBV_analyze_movie] open_inputfile error");
            return fail_media_step(path, errors::kAnalysisOpenFailed, media,
                                   "[ORBV_analyze_movie] open_inputfile error", result_text);
        }

        // The camera records PCM; AAC sound marks a file that was re-encoded elsewhere.
        if (media.audio_codec_id() == AV_CODEC_ID_AAC) is_target = false;
        log_message(LOG_TRACE, "[ORBV_analyze_movie] codec_id:%d:", media.audio_codec_id());
        log_message(LOG_TRACE, "[ORBV_analyze_movie] isTarget__:%d:", is_target ? 1 : 0);
        log_message(LOG_TRACE, "[ORBV_analyze_movie] thumbnail_path:%s:", or_null(thumbnail_path));
        log_message(LOG_TRACE, "[ORBV_analyze_movie] writeFlag:%d:", static_cast<int>(write_flag));

        bool created_thumbnail = false;
        if (thumbnail_step(kTag, path, thumbnail_path, thumbnail_width, write_flag, is_target, exif,
                           media, &created_thumbnail, result_text) != 0) {
            return -1;
        }

        *result_text = analysis_json(path, thumbnail_path,
                                     analysis_fields(exif, media, software.get(), date.get(),
                                                     is_target, created_thumbnail, "MOVIE"));
        *info = analysis_info(exif, media, is_target, false);
        media.close_input();
    } catch (const Error& e) {
        return fail_thrown(kTag, path, e.what(), result_text);
    }
    log_message(LOG_TRACE, "[ORBV_analyze_movie] end:%s:", or_null(path));
    return 0;
}

}  // namespace orbv
