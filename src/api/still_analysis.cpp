// The analysis of one JPEG still: camera metadata from its APP1 segments (EXIF and XMP).
#include "api/analyses.h"
#include "api/file_analysis.h"
#include "metadata/jpeg_file.h"
#include "metadata/panorama_xml.h"
#include "util/log.h"

namespace orbv {

namespace {

class JpegFormat final : public AnalysisFormat {
  public:
    JpegFormat() : AnalysisFormat("[ORBV_analyze_jpeg]", "JPEG", true) {}

    CameraMetadata read_metadata(const char* path) const override {
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
        CameraMetadata metadata{ExifInfo(exif_block, exif_size)};
        if (xmp) metadata.stitched = parse_panorama_xml(xmp, &metadata.software, &metadata.date);
        return metadata;
    }
};

}  // namespace

int32_t ORBV_analyze_jpeg(const char* path, const char* thumbnail_path,
                          const char* thumbnail_write_path, uint32_t thumbnail_width,
                          uint32_t write_flag, Document* result_text, AnalysisInfo* info) {
    return analyze_file(JpegFormat(),
                        {path, thumbnail_path, thumbnail_write_path, thumbnail_width, write_flag},
                        result_text, info);
}

}  // namespace orbv
