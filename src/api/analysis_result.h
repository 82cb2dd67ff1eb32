#pragma once

#include "api/analysis_info.h"
#include "api/documents.h"
#include "media/libav_if.h"
#include "metadata/exif_info.h"

// What the still and the movie analysis share: the camera rule and the filling of the result
// document and of the record for the export.
namespace orbv {

// A shot of the supported camera in one of the capture modes the library handles.
bool is_camera_target(const ExifInfo& exif);

// The analysis document's values; "datetime" is the EXIF date when present, else the
// panorama date.
AnalysisFields analysis_fields(const ExifInfo& exif, const libavIF& media, const char* software,
                               const char* panorama_date, bool is_target, bool created_thumbnail,
                               const char* type);

// The record the export reads; multi_capture keeps its low 32 bits.
AnalysisInfo analysis_info(const ExifInfo& exif, const libavIF& media, bool is_target,
                           bool is_still);

}  // namespace orbv
