#pragma once

#include <cstdint>

namespace orbv {

// What an analysis reports to its caller. The caller sets the defaults; a successful analysis
// overwrites every field.
struct AnalysisInfo {
    int32_t width = -1;
    int32_t height = -1;
    double duration = -1.0;
    int64_t frame_count = -1;
    int32_t orientation = -1;
    int32_t capture_mode = -1;
    int32_t multi_capture = -1;
    int32_t camera_orientation = -1;
    bool is_target = false;
    bool is_still = false;         // analysed as a still: a JPEG picture by its first bytes
    bool is_jpeg_picture = false;  // one JPEG picture, as FFmpeg decodes it
};

}  // namespace orbv
