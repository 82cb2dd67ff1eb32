#pragma once

#include <cstdint>
#include <utility>

#include "api/analysis_info.h"
#include "api/documents.h"
#include "media/libav_if.h"
#include "metadata/exif_info.h"
#include "metadata/owned_text.h"

// The analysis of one file: the steps a still and a movie share, around a reader step of each
// format that takes the camera's metadata from the file itself.
namespace orbv {

// What a reader step finds: the EXIF values, and from the panorama text the software and date
// and parse_panorama_xml's result (0 for a panorama this library exported, -1 without text).
struct CameraMetadata {
    explicit CameraMetadata(ExifInfo exif_values) : exif(std::move(exif_values)) {}
    ExifInfo exif;
    OwnedText software;
    OwnedText date;
    int32_t stitched = -1;
};

// A shot of the supported camera in one of the capture modes the library handles, or a
// panorama the library exported.
bool is_target_file(const CameraMetadata& metadata);

// The host's request for one analysis.
struct AnalysisRequest {
    const char* path;
    const char* thumbnail_path;        // the host's, for the document and the log
    const char* thumbnail_write_path;  // where the thumbnail is written
    uint32_t thumbnail_width;
    uint32_t write_flag;
};

// One format of file: its log tag ("[ORBV_analyze_jpeg]"), its type word in the document and
// whether it is a still, its reader step and its own rules once the file is open.
class AnalysisFormat {
  public:
    AnalysisFormat(const char* tag, const char* type, bool is_still)
        : tag_(tag), type_(type), is_still_(is_still) {}
    virtual ~AnalysisFormat() = default;
    const char* tag() const { return tag_; }
    const char* type() const { return type_; }
    bool is_still() const { return is_still_; }

    // The reader step. Throws orbv::Error when the file cannot be read.
    virtual CameraMetadata read_metadata(const char* path) const = 0;
    // Called once open_input of the file returned `opened`: the format's trace lines, and the
    // rules on its streams that may withdraw the target decision made from `metadata`.
    virtual void after_open(const libavIF& /*media*/, int32_t /*opened*/,
                            const AnalysisRequest& /*request*/, const CameraMetadata& /*metadata*/,
                            bool* /*is_target*/) const {}

  private:
    const char* tag_;
    const char* type_;
    bool is_still_;
};

// Runs the analysis: the reader step, the target decision, the media facts, the thumbnail when
// one is asked for (and the file is a target or the host insists), the result document and the
// record for the export. 0 or -1; a document is left in every case, unless `document` is null
// (the export, which writes its own).
int32_t analyze_file(const AnalysisFormat& format, const AnalysisRequest& request,
                     Document* document, AnalysisInfo* info);

}  // namespace orbv
