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

// Ends an analysis whose media step failed: the document carries the layer's error, the input
// is closed, and "<context> errnum:%d error:%s:" is logged. Returns -1.
int32_t fail_media_step(const char* path, ErrorCode code, libavIF& media, const char* context,
                        Document* result_text);

// Writes the thumbnail when a path is given and the file is a target or the host asks for it
// anyway. 0 with *created set, or -1 as fail_media_step with "<tag> write_tuhmbnail error".
int32_t thumbnail_step(const char* tag, const char* path, const char* thumbnail_path,
                       uint32_t thumbnail_width, uint32_t write_flag, bool is_target,
                       const ExifInfo& exif, libavIF& media, bool* created, Document* result_text);

// Ends an analysis after a reader threw: the 19999 document with the thrown text. Returns -1.
int32_t fail_thrown(const char* tag, const char* path, const char* text, Document* result_text);

// The record the export reads; multi_capture keeps its low 32 bits.
AnalysisInfo analysis_info(const ExifInfo& exif, const libavIF& media, bool is_target,
                           bool is_still);

}  // namespace orbv
