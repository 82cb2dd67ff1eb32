// The analysis of one MOV/MP4 movie: camera metadata from its maker atom and the spherical XML
// of its video track, and the rule on its sound.
#include "api/analyses.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "api/file_analysis.h"
#include "metadata/mov_file.h"
#include "metadata/panorama_xml.h"
#include "util/log.h"

namespace orbv {

namespace {

class MovieFormat final : public AnalysisFormat {
  public:
    MovieFormat() : AnalysisFormat("[ORBV_analyze_movie]", "MOVIE", false) {}

    CameraMetadata read_metadata(const char* path) const override {
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
        CameraMetadata metadata{ExifInfo(exif_block, exif_size)};
        if (xml) metadata.stitched = parse_panorama_xml(xml, &metadata.software, &metadata.date);
        log_message(LOG_TRACE, "[ORBV_analyze_movie] isVELORA360 %d", metadata.stitched);
        log_message(LOG_TRACE, "[ORBV_analyze_movie] isTarget %d",
                    is_target_file(metadata) ? 1 : 0);
        return metadata;
    }

    void after_open(const libavIF& media, int32_t opened, const AnalysisRequest& request,
                    const CameraMetadata& metadata, bool* is_target) const override {
        if (opened != 0) {
            log_message(LOG_ERROR, "[ORBV_analyze_movie] open_inputfile error");
            return;
        }
        // The camera records PCM; AAC sound marks a file that was re-encoded elsewhere, unless
        // it is one of this library's MP4 panoramas, whose sound is AAC.
        if (media.audio_codec_id() == AV_CODEC_ID_AAC && metadata.stitched != 0) *is_target = false;
        log_message(LOG_TRACE, "[ORBV_analyze_movie] codec_id:%d:", media.audio_codec_id());
        log_message(LOG_TRACE, "[ORBV_analyze_movie] isTarget__:%d:", *is_target ? 1 : 0);
        log_message(LOG_TRACE,
                    "[ORBV_analyze_movie] thumbnail_path:%s:", or_null(request.thumbnail_path));
        log_message(LOG_TRACE,
                    "[ORBV_analyze_movie] writeFlag:%d:", static_cast<int>(request.write_flag));
    }
};

}  // namespace

int32_t ORBV_analyze_movie(const char* path, const char* thumbnail_path,
                           const char* thumbnail_write_path, uint32_t thumbnail_width,
                           uint32_t write_flag, Document* result_text, AnalysisInfo* info) {
    return analyze_file(MovieFormat(),
                        {path, thumbnail_path, thumbnail_write_path, thumbnail_width, write_flag},
                        result_text, info);
}

}  // namespace orbv
